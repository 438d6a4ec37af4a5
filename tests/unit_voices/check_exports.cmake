# cmake -DLIB=path -P check_exports.cmake: the defined dynamic symbols of LIB
# must be exactly the thirteen unit entry points, the block form of Make and
# the count of loaded instruments.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line ${lines})
  string(REGEX REPLACE "^.* " "" name "${line}")
  # Version nodes and the sanitizer runtime's own hooks are not ours.
  if(NOT name MATCHES "^(__asan|__ubsan|__sanitizer|__lsan|_init$|_fini$)")
    list(APPEND names ${name})
  endif()
endforeach()
list(SORT names)
set(expected Copyright FreeLockCFG GetName GetType GetVer InitUNIT LoadCFG LoadedInstruments
  MidiIn Make MakeBlock RemoveCFG SetRate SysSig TestDLL)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports: ${names}\nexpected: ${expected}")
endif()
