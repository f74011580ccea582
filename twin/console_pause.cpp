#include "console_pause.hpp"

namespace zorvik {

bool pausesBeforeClosing(const ConsoleFacts& facts) {
    return facts.processesOnConsole == 1 && facts.windowVisible && facts.inputIsConsole;
}

}  // namespace zorvik
