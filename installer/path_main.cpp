// zorvik-path.exe add|remove system|user FOLDER: FOLDER on the system's PATH
// or the user's, or off it; then every program that listens is told. Any
// length: the value is read and written whole through the registry.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "path_list.hpp"

namespace {

constexpr int kUsageStatus = 2;

// Prints what failed with the system's message; the status for the caller.
int failed(const wchar_t* what, LSTATUS error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::fwprintf(stderr, L"zorvik-path: %ls: error %ld: %ls\n", what, static_cast<long>(error), text ? text : L"");
    LocalFree(text);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view action = argc == 4 ? argv[1] : L"";
    const std::wstring_view scope = argc == 4 ? argv[2] : L"";
    if ((action != L"add" && action != L"remove") || (scope != L"system" && scope != L"user")) {
        std::fwprintf(stderr, L"usage: zorvik-path add|remove system|user FOLDER\n");
        return kUsageStatus;
    }
    std::wstring folder = argv[3];
    // "C:\Program Files\Zorvik Discovery\" as the MSI gives it; "C:\" stays.
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    const bool system = scope == L"system";
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                   system ? L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment" : L"Environment",
                                   0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return failed(L"cannot open the environment's key", status);

    // PATH as it is, whatever its length; a user's may not be there yet.
    DWORD type = REG_EXPAND_SZ;
    std::wstring path;
    for (DWORD bytes = 0;;) {
        status = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND) {
            type = REG_EXPAND_SZ;
            break;
        }
        if (status != ERROR_SUCCESS) break;
        path.resize(bytes / sizeof(wchar_t) + 1);
        status = RegQueryValueExW(key, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(path.data()), &bytes);
        if (status == ERROR_MORE_DATA) continue;
        path.resize(bytes / sizeof(wchar_t));
        while (!path.empty() && path.back() == L'\0') path.pop_back();
        break;
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return failed(L"cannot read Path", status);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) type = REG_EXPAND_SZ;

    const std::wstring changed = action == L"add" ? zorvik::withEntry(path, folder) : zorvik::withoutEntry(path, folder);
    if (changed != path) {
        if (changed.empty()) {
            status = RegDeleteValueW(key, L"Path");
        } else {
            status = RegSetValueExW(key, L"Path", 0, type, reinterpret_cast<const BYTE*>(changed.c_str()),
                                    static_cast<DWORD>((changed.size() + 1) * sizeof(wchar_t)));
        }
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return failed(L"cannot write Path", status);
    if (changed != path) {
        // Explorer then starts new consoles with the new PATH; a program that
        // does not answer within 5 s is passed over.
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    }
    return 0;
}
