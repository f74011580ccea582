#pragma once

namespace zorvik {

// Turns readable once the user has asked the program to stop, and stays so;
// -1 until onStopRequest is called. A write to a standard stream that waits on
// it gives up rather than keep the stop from being seen.
int stopRequestDescriptor() noexcept;

}  // namespace zorvik
