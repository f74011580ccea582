#pragma once

#include <functional>

namespace zorvik {

// On Windows, from now on the user's request to stop (Ctrl+C or Ctrl+Break)
// no longer ends the program at once: `stop` is called through the message
// loop instead, between handlers, so no line is cut short. Once per program.
// Throws Failure when the system refuses. (Linux: stop_signals.hpp.)
void onStopRequest(std::function<void()> stop);

}  // namespace zorvik
