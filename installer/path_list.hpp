#pragma once

#include <string>

namespace zorvik {

// PATH with `folder` as its last entry, unless an entry names it already
// (in any case, with or without a closing backslash).
std::wstring withEntry(const std::wstring& path, const std::wstring& folder);

// PATH with every entry that names `folder` taken out, the rest as they were.
std::wstring withoutEntry(const std::wstring& path, const std::wstring& folder);

}  // namespace zorvik
