#pragma once

#include "maker_table.hpp"

namespace zorvik {

// The makers of MAC address blocks as this system knows them: on Linux from the
// ieee-data package's files, read on first use; on Windows from the table built
// into the program from those files. Empty when there is no data.
MakerTable installedMakers();

}  // namespace zorvik
