// console_ctrl_c.exe COMMAND-LINE: runs the command in a console of its own,
// its standard output a pipe with room for little more than a line. Once the
// command waits to write more, it presses Ctrl+C in that console, as a user
// would, and only then reads: the command must not end while its loop is busy
// and cannot see the stop (exit 3 if it does). Copies the command's output to
// its own and exits with the command's exit code.
#include <windows.h>

#include <string>

int wmain() {
    // The command line after this program's own name, as it was given.
    const wchar_t* line = GetCommandLineW();
    const bool quoted = *line == L'"';
    for (++line; *line != L'\0' && (quoted ? *line != L'"' : *line != L' '); ++line) {}
    if (quoted && *line == L'"') ++line;
    while (*line == L' ') ++line;
    std::wstring command = line;

    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);  // before the new console replaces it
    FreeConsole();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    constexpr DWORD kRoom = 64;  // a heading and one CSV row of the watch
    if (!AllocConsole() || !CreatePipe(&reader, &writer, &inherit, kRoom)) return 4;
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer;
    startup.hStdError = writer;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) return 4;
    CloseHandle(writer);
    SetConsoleCtrlHandler(nullptr, TRUE);  // the console's Ctrl+C reaches this program too

    // The pipe nearly full and still for 300 ms: the command waits in a write.
    DWORD waiting = 0;
    for (int still = 0; still < 30 && WaitForSingleObject(child.hProcess, 10) == WAIT_TIMEOUT;) {
        DWORD now = 0;
        PeekNamedPipe(reader, nullptr, 0, nullptr, &now, nullptr);
        still = now == waiting && now > kRoom - 8 ? still + 1 : 0;
        waiting = now;
    }
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 4;
    if (WaitForSingleObject(child.hProcess, 2000) == WAIT_OBJECT_0) return 3;

    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD written = 0;
        WriteFile(output, buffer, got, &written, nullptr);
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    return static_cast<int>(status);
}
