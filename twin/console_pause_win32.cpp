#include <windows.h>

#include "console_output.hpp"
#include "console_pause.hpp"
#include "failure.hpp"

namespace zorvik {

ConsoleFacts consoleFacts() {
    DWORD ids[2];
    DWORD mode = 0;
    const HWND window = GetConsoleWindow();
    // Standard input of another console is not possible: a process has one at most.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    return {.processesOnConsole = GetConsoleProcessList(ids, 2),
            .windowVisible = window != nullptr && IsWindowVisible(window),
            .inputIsConsole = input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode)};
}

void waitForKey(void* output) {
    try {
        win32::writeText(output, "Press any key to close this window.");
    } catch (const Failure&) {
        return;
    }
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // Keys pressed while the twin ran are not the answer.
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

}  // namespace zorvik
