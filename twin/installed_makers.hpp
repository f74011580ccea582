#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "maker_table.hpp"

namespace zorvik {

// Told of each registry file that is there but could not be used: its path and why.
using MakerNote = std::function<void(const std::string&)>;

// The makers of MAC address blocks as this system knows them: on Linux from the
// ieee-data package's files, read on first use; on Windows from the table built
// into the program from those files. Empty when there is no data.
MakerTable installedMakers(const MakerNote& note);

// Linux: each registry file from the first of `folders` that has a usable one.
// Only a regular file of at most kMaxRegistryBytes is read.
MakerRegistry readMakerFiles(std::initializer_list<std::string_view> folders, const MakerNote& note);

// Over five times oui.csv, the largest (3 MB).
inline constexpr std::size_t kMaxRegistryBytes = 16 << 20;

}  // namespace zorvik
