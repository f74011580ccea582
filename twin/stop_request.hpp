#pragma once

#include <functional>

namespace zorvik {

// From now on the user's request to stop (SIGINT or SIGTERM; Ctrl+C or
// Ctrl+Break on Windows) no longer ends the program at once: `stop` is called
// through the event loop instead, between handlers, so no line is cut short.
// Once per program. Throws Failure when the system refuses.
void onStopRequest(std::function<void()> stop);

}  // namespace zorvik
