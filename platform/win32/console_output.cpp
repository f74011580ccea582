#include "console_output.hpp"

#include <algorithm>
#include <string>

#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik::win32 {

HANDLE standardHandle(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void writeText(HANDLE handle, std::string_view text) {
    if (DWORD mode = 0; GetConsoleMode(handle, &mode)) {
        const std::wstring wide = widen(text);
        for (std::wstring_view rest = wide; !rest.empty();) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 16 * 1024));
            if (!WriteConsoleW(handle, rest.data(), chunk, &written, nullptr)) throw lastError();
            rest.remove_prefix(written);
        }
        return;
    }
    while (!text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
        if (!WriteFile(handle, text.data(), chunk, &written, nullptr)) throw lastError();
        text.remove_prefix(written);
    }
}

}  // namespace zorvik::win32
