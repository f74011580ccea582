#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "failure.hpp"

namespace zorvik {

// Puts `contents` in the file at `path` (UTF-8) as a whole: a temporary file
// in the same folder, written and flushed to disk, then renamed over it, so a
// reader sees the old file or the new one, never part of one. The temporary
// file is gone again whatever fails. Nothing, or the system's failure (its
// number and text) of the step that failed; each platform defines it.
std::optional<Failure> replaceFile(const std::string& path, std::string_view contents);

}  // namespace zorvik
