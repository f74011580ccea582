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

// Each registry file from the first of `folders` that has a usable one.
// Only a regular file of at most kMaxRegistryBytes is read.
MakerRegistry readMakerFiles(std::initializer_list<std::string_view> folders, const MakerNote& note);

// --maker-dir: the registry files in `folder`, as many as are there; a
// UsageError naming the folder when none could be read.
MakerRegistry folderMakers(const std::string& folder, const MakerNote& note);

// What --version names as the maker data installedMakers gives: on Linux
// ieee-data's date of update (its .lastupdate), on Windows the ieee-data the
// table was made from.
std::string installedMakersSource();

// Over five times oui.csv, the largest (3 MB).
inline constexpr std::size_t kMaxRegistryBytes = 16 << 20;

}  // namespace zorvik
