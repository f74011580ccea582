// zorvik-discover.exe: the window's discovery from the command line.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console_output.hpp"
#include "console_pause.hpp"
#include "receive_buffer_option.hpp"
#include "stop_request.hpp"
#include "twin_main.hpp"
#include "wide_text.hpp"
#include "win32_controls.hpp"
#include "win32_waker.hpp"
#include "window_program.hpp"

int wmain(int argc, wchar_t** argv) {
    using namespace zorvik;
    using namespace zorvik::win32;
    // To standard error, if there is one; nothing else can be done when that fails.
    const auto printError = [](std::string_view text) {
        if (const HANDLE error = standardHandle(STD_ERROR_HANDLE)) {
            try {
                writeText(error, text);
            } catch (const Failure&) {
            }
        }
    };
    const HANDLE output = standardHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr) {
        printError(std::string(kTwinName) + ": error " + std::to_string(ERROR_INVALID_HANDLE) + ": standard output is closed\r\n");
        return kFailureStatus;
    }
    DWORD mode = 0;
    const HANDLE error = standardHandle(STD_ERROR_HANDLE);
    const bool errorIsConsole = error != nullptr && GetConsoleMode(error, &mode);
    std::vector<std::string> args;
    std::vector<const char*> pointers;
    // "/?" asks for help, as it does of any Windows command.
    for (int i = 0; i < argc; ++i) args.push_back(i > 0 && std::wstring_view(argv[i]) == L"/?" ? "--help" : narrow(argv[i]));
    for (const auto& arg : args) pointers.push_back(arg.c_str());
    ReceiveBufferOption startupOption;
    const int twinStatus = runTwin(
        argc, pointers.data(),
        {.output = [output](std::string_view text) { writeText(output, text); },
         .error = printError,
         .runEventLoop = [] { runMessageLoop(nullptr); },
         .leaveEventLoop = [](int status) { PostQuitMessage(status); },
         .newline = "\r\n",
         .dropHelp = "see \"Receive buffer\" in the README",
         .errorIsTerminal = errorIsConsole,
         .readMore = "\"Windows Defender Firewall\" in README.md beside the program",
         .onStopRequest = onStopRequest},
        {.endpointParts = [] { return win32EndpointParts(); },
         .timer = [](std::function<void()> onTimer) { return std::make_shared<Win32Timer>(std::move(onTimer)); },
         .startupOption = startupOption});
    if (pausesBeforeClosing(consoleFacts())) waitForKey(output);
    return twinStatus;
}
