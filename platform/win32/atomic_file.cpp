#include <windows.h>

#include <algorithm>
#include <string>

#include "replace_file.hpp"
#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik {
namespace {

// Writes all of `contents` to `file`, flushes it to disk and closes it; 0, or the error of the call that failed.
DWORD writeOut(HANDLE file, std::string_view contents) {
    DWORD error = 0;
    while (!contents.empty() && error == 0) {
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 30));
        if (WriteFile(file, contents.data(), size, &written, nullptr)) {
            contents.remove_prefix(written);
        } else {
            error = GetLastError();
        }
    }
    if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    return error;
}

}  // namespace

std::optional<Failure> replaceFile(const std::string& path, std::string_view contents) {
    static unsigned made = 0;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    // One left by an earlier program of the same number is not ours to reuse.
    for (int tries = 0; file == INVALID_HANDLE_VALUE; ++tries) {
        temporary = win32::widen(path + ".tmp." + std::to_string(GetCurrentProcessId()) + '.' + std::to_string(made++));
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || tries == 100)) {
            return win32::lastError();
        }
    }
    DWORD error = writeOut(file, contents);
    // A reader that opened the file without sharing its deletion holds it for a moment: try a few times.
    for (int tries = 0; error == 0; ++tries) {
        if (MoveFileExW(temporary.c_str(), win32::widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return std::nullopt;
        }
        error = GetLastError();
        if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) && tries < 10) {
            error = 0;
            Sleep(20);
        }
    }
    DeleteFileW(temporary.c_str());  // what failed is the report; this is tidying up
    return win32::systemFailure(error);
}

}  // namespace zorvik
