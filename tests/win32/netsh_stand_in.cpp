// netsh.exe for the installer tests, as Wine's has no advfirewall: appends
// its command line to netsh.log beside itself, in UTF-8, and succeeds.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    std::wstring log(MAX_PATH, L'\0');
    log.resize(GetModuleFileNameW(nullptr, log.data(), MAX_PATH));
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"netsh.log";
    const wchar_t* line = GetCommandLineW();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
    text.back() = '\n';
    FILE* file = _wfopen(log.c_str(), L"ab");
    if (file == nullptr) return 1;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
