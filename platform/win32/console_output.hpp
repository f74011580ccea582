#pragma once

#include <windows.h>

#include <string_view>

namespace zorvik::win32 {

// A standard handle the program was started with, or nullptr where it has none
// (a closed or missing stream).
HANDLE standardHandle(DWORD which);

// Writes UTF-8 text to a console, a pipe or a file: to a console as UTF-16, so
// that any code page shows it right, elsewhere as the bytes themselves. Throws
// the system's failure when a write fails.
void writeText(HANDLE handle, std::string_view text);

}  // namespace zorvik::win32
