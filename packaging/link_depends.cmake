# Read by cpack: adds to the .deb's Depends the package that owns each folder
# a link in PLUGIN/VOKRA/ points to (freepats for the default set), since the
# .deb carries the links and not what they reach.
cmake_policy(SET CMP0009 NEW) # a linked folder is listed, not walked
if(CPACK_GENERATOR STREQUAL "DEB" AND IS_DIRECTORY "${CPACK_TORQA_VOKRA_DIR}")
  file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TORQA_VOKRA_DIR}/*")
  set(owners)
  foreach(entry ${entries})
    if(NOT IS_SYMLINK "${entry}")
      continue()
    endif()
    file(READ_SYMLINK "${entry}" target)
    if(NOT IS_ABSOLUTE "${target}")
      continue() # a link inside the set travels with it
    endif()
    execute_process(COMMAND dpkg-query -S "${target}" OUTPUT_VARIABLE found
                    RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    # "freepats: /usr/share/midi/freepats"; a diversion or a shared folder
    # names several packages ("a, b: /dir"): then the first owns it.
    if(failed OR NOT found MATCHES "^([^:, ]+)")
      message(WARNING "no package owns ${target} (${entry}): not in Depends")
      continue()
    endif()
    list(APPEND owners ${CMAKE_MATCH_1})
  endforeach()
  list(REMOVE_DUPLICATES owners)
  foreach(owner ${owners})
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${owner}")
  endforeach()
endif()
