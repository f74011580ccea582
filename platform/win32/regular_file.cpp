#include "regular_file.hpp"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik {
namespace {

FileRead failed(DWORD error) {
    return {{}, static_cast<int>(error), "error " + std::to_string(error) + ": " + win32::systemFailure(error).description()};
}

}  // namespace

FileRead readRegularFile(const std::string& path, std::size_t maxBytes) {
    const auto tooLarge = [&] { return FileRead{{}, 0, "it is larger than " + std::to_string(maxBytes) + " bytes"}; };
    const std::wstring name = win32::widen(path);
    if (const DWORD attributes = GetFileAttributesW(name.c_str());
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {{}, 0, "it is a folder, not a regular file"};
    }
    const HANDLE opened = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return failed(GetLastError());
    }
    const std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return {{}, 0, "it is not a regular file"};
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        return failed(GetLastError());
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        return tooLarge();
    }
    // Up to one byte past the bound: that tells a file that grew from one that fits.
    std::string text(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > maxBytes) return tooLarge();
            text.resize(std::min(maxBytes + 1, got * 2));
        }
        DWORD count = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(text.size() - got, 1 << 20));
        if (!ReadFile(file.get(), text.data() + got, asked, &count, nullptr)) {
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
