#pragma once

#include <functional>

#include "posix_event_loop.hpp"
#include "system_calls.hpp"

namespace zorvik {

// From now on SIGINT and SIGTERM no longer end the program at once: `stop`
// runs on `loop` instead, once, between two callbacks, so no line is cut
// short. Once per program. Throws Failure when the system refuses.
void onStopSignal(PosixEventLoop& loop, std::function<void()> stop, SystemCalls& calls = realSystemCalls());

// Turns readable once the user has asked the program to stop, and stays so;
// -1 until onStopSignal is called. A write to a standard stream that waits on
// it gives up rather than keep the stop from being seen.
int stopRequestDescriptor() noexcept;

}  // namespace zorvik
