#include "system_error.hpp"

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "wide_text.hpp"

namespace zorvik::win32 {

Failure systemFailure(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring description = length > 0 ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    // The system's texts end in a line break, which a one-line report does not want.
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r')) {
        description.pop_back();
    }
    if (description.empty()) {
        return Failure(static_cast<int>(error), "Windows error " + std::to_string(error));
    }
    return Failure(static_cast<int>(error), narrow(description));
}

Failure lastError() { return systemFailure(GetLastError()); }

Failure lastSocketError() { return systemFailure(static_cast<unsigned long>(WSAGetLastError())); }

}  // namespace zorvik::win32
