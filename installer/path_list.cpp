#include "path_list.hpp"

#include <windows.h>

#include <string_view>
#include <vector>

namespace zorvik {
namespace {

std::wstring_view withoutClosingBackslash(std::wstring_view entry) {
    if (entry.size() > 1 && entry.back() == L'\\') entry.remove_suffix(1);
    return entry;
}

bool names(std::wstring_view entry, std::wstring_view folder) {
    entry = withoutClosingBackslash(entry);
    folder = withoutClosingBackslash(folder);
    return CompareStringOrdinal(entry.data(), static_cast<int>(entry.size()), folder.data(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring_view> entries(std::wstring_view path) {
    std::vector<std::wstring_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find(L';', start);
        parts.push_back(path.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start));
        if (end == std::wstring_view::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

std::wstring withEntry(const std::wstring& path, const std::wstring& folder) {
    for (const auto entry : entries(path)) {
        if (names(entry, folder)) return path;
    }
    if (path.empty() || path.back() == L';') return path + folder;
    return path + L';' + folder;
}

std::wstring withoutEntry(const std::wstring& path, const std::wstring& folder) {
    std::wstring kept;
    bool first = true;
    for (const auto entry : entries(path)) {
        if (names(entry, folder)) continue;
        if (!first) kept += L';';
        kept += entry;
        first = false;
    }
    return kept;
}

}  // namespace zorvik
