#pragma once

#include "failure.hpp"

namespace zorvik::win32 {

// A failed Windows or Winsock call: its error number and the system's own
// description of it, or a short one of ours where the system has none.
Failure systemFailure(unsigned long error);

// The same for GetLastError() and WSAGetLastError().
Failure lastError();
Failure lastSocketError();

}  // namespace zorvik::win32
