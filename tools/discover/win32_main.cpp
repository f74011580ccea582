// zorvik-discover.exe: the window's discovery from the command line.
#include <windows.h>

#include <string>
#include <vector>

#include "console_output.hpp"
#include "receive_buffer_option.hpp"
#include "system_error.hpp"
#include "twin_program.hpp"
#include "wide_text.hpp"
#include "win32_controls.hpp"
#include "window_program.hpp"
#include "winsock_endpoint.hpp"

namespace {

using namespace zorvik;
using namespace zorvik::win32;

// To standard error, if there is one; nothing else can be done when that fails.
void printError(std::string_view text) {
    if (const HANDLE error = standardHandle(STD_ERROR_HANDLE)) {
        try {
            writeText(error, text);
        } catch (const Failure&) {
        }
    }
}

void report(const Failure& failure) {
    printError("zorvik-discover: error " + std::to_string(failure.number()) + ": " + failure.description() + "\n");
}

// The command line's own line ends become the platform's.
std::string withCrLf(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HANDLE output = standardHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr) {
        report(Failure(ERROR_INVALID_HANDLE, "standard output is closed"));
        return kFailureStatus;
    }
    std::vector<std::string> args;
    std::vector<const char*> pointers;
    for (int i = 0; i < argc; ++i) args.push_back(narrow(argv[i]));
    for (const auto& arg : args) pointers.push_back(arg.c_str());
    const TwinCommand command = parseTwinCommand(argc, pointers.data());
    if (command.kind != TwinCommand::Kind::Discover) {
        try {
            if (command.kind == TwinCommand::Kind::PrintError) {
                printError(withCrLf(command.text));
            } else {
                writeText(output, withCrLf(command.text));
            }
        } catch (const Failure& failure) {
            report(failure);
            return kFailureStatus;
        }
        return command.status;
    }

    WinsockEndpoint Winsock1;
    ReceiveBufferOption startupOption;
    TwinProgram* twin = nullptr;
    Win32Timer tmrResetCaption([&] { twin->periodOver(); });
    TwinProgram program(command.options, {Winsock1, tmrResetCaption, startupOption},
                        {.output = [output](std::string_view text) { writeText(output, text); },
                         .report = report,
                         .leaveEventLoop = [](int status) { PostQuitMessage(status); },
                         .newline = "\r\n"});
    twin = &program;
    if (program.start()) {
        runMessageLoop(nullptr);
    }
    return program.status();
}
