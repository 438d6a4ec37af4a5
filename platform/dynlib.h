// Shared-library loading (the LoadLibraryExA / GetProcAddress / FreeLibrary
// stand-in) and the program's own directory.
#pragma once

#include <cstddef>
#include <cstdint>

// Loads a library by path. Null on failure (LibLastError says why).
void *LibOpen(const char *pszPath);
// Looks up an exported symbol. Null when the library does not export it.
void *LibSymbol(void *hLib, const char *pszName);
// Releases a library opened by LibOpen; null is ignored.
void LibClose(void *hLib);
// Text of the last failure of LibOpen or LibSymbol on this thread; "" when none.
const char *LibLastError();
// Writes the directory of the running program, without a trailing slash, into
// pszOut (nRoom bytes with the NUL). Returns 1, or 0 when it is unknown or too long.
int32_t ProgramDirectory(char *pszOut, size_t nRoom);
