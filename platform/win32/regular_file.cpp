#include "regular_file.hpp"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik {
namespace {

FileRead failed(DWORD error) {
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {{}, missing ? ENOENT : static_cast<int>(error),
            "error " + std::to_string(error) + ": " + win32::systemFailure(error).description()};
}

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};

}  // namespace

FileRead readRegularFile(const std::string& path, std::size_t maxBytes) {
    const auto tooLarge = [&] { return FileRead{{}, 0, "it is larger than " + std::to_string(maxBytes) + " bytes"}; };
    const std::wstring wide = win32::widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return failed(GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {{}, 0, "it is a folder, not a regular file"};
    }
    const HANDLE opened = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return failed(GetLastError());
    }
    const std::unique_ptr<void, HandleCloser> file(opened);
    // A console, a pipe or a device could block a read, or never end one.
    if (GetFileType(opened) != FILE_TYPE_DISK) {
        return {{}, 0, "it is not a regular file"};
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(opened, &size)) {
        return failed(GetLastError());
    }
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        return tooLarge();
    }
    // One byte past the size tells a file that grew meanwhile.
    std::string text(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > maxBytes) return tooLarge();
            text.resize(std::min(maxBytes + 1, got * 2));
        }
        DWORD count = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(text.size() - got, 1 << 20));
        if (!ReadFile(opened, text.data() + got, wanted, &count, nullptr)) {
            return failed(GetLastError());
        }
        if (count == 0) {
            break;
        }
        got += count;
    }
    text.resize(got);
    return {std::move(text), 0, {}};
}

}  // namespace zorvik
