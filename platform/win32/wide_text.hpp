#pragma once

#include <string>
#include <string_view>

namespace zorvik::win32 {

// The program's texts are UTF-8; the window system's W functions take UTF-16.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace zorvik::win32
