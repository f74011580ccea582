#pragma once

namespace zorvik {

// What Windows says of the console the twin runs in.
struct ConsoleFacts {
    unsigned processesOnConsole = 0;  // GetConsoleProcessList: this one and any shell
    bool windowVisible = false;       // a console window that someone can see
    bool inputIsConsole = false;      // standard input reads that console's keys
};

// Started by a double-click, the twin has a console window of its own, which
// closes as it ends: then it waits for a key, so that its output can be read.
// Run by a shell, a script, a scheduled task or through a pipe, never.
bool pausesBeforeClosing(const ConsoleFacts& facts);

// Windows only: the facts of this process's console, and the wait for a key
// press in it, after a line that asks for one on `output`.
ConsoleFacts consoleFacts();
void waitForKey(void* output);

}  // namespace zorvik
