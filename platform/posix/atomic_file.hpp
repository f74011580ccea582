#pragma once

#include "replace_file.hpp"
#include "system_calls.hpp"

namespace zorvik {

// replaceFile through the seam: its temporary file is PATH.tmp.PID.N, made
// afresh (never one that is there already), mode 0644 whatever the umask, so
// that a collector running as another user can read the file.
std::optional<Failure> replaceFile(const std::string& path, std::string_view contents, SystemCalls& calls);

}  // namespace zorvik
