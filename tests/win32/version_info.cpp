// Prints the version record of the programs named on the command line, one
// "Field=Value" line each, as Windows reads it back (GetFileVersionInfoW).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const DWORD size = GetFileVersionInfoSizeW(argv[i], nullptr);
        std::vector<char> record(size);
        if (size == 0 || !GetFileVersionInfoW(argv[i], 0, size, record.data())) {
            std::fwprintf(stderr, L"%ls: no version record\n", argv[i]);
            return 1;
        }
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
            std::wprintf(L"FileVersionNumber=%u,%u,%u,%u\n", HIWORD(fixed->dwFileVersionMS),
                         LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        }
        // The strings' block is named by the record's first language and code page.
        WORD* translation = nullptr;
        wchar_t block[9] = L"040904b0";
        if (VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                           &length) && length >= 4) {
            std::swprintf(block, 9, L"%04x%04x", translation[0], translation[1]);
        }
        for (const wchar_t* field : {L"ProductName", L"InternalName", L"FileVersion", L"ProductVersion",
                                     L"FileDescription", L"CompanyName", L"LegalCopyright"}) {
            const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + field;
            wchar_t* value = nullptr;
            if (VerQueryValueW(record.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
                std::wprintf(L"%ls=%ls\n", field, value);
            }
        }
    }
    return 0;
}
