// zorvik-discover: the window's discovery for scripts and machines without a
// desktop. The same logic and endpoint as the window, with console controls.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <QCoreApplication>

#include "failure.hpp"
#include "qt_timer.hpp"
#include "receive_buffer_option.hpp"
#include "standard_streams.hpp"
#include "twin_program.hpp"
#include "udp_endpoint.hpp"

namespace {

void report(int number, const std::string& description) {
    std::fprintf(stderr, "zorvik-discover: error %d: %s\n", number, description.c_str());
}

void writeOutput(std::string_view text) {
    if (const int error = zorvik::writeAll(STDOUT_FILENO, text)) {
        throw zorvik::Failure::fromErrno(error);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik;
    // Before Qt or the endpoint opens a descriptor that could take number 1.
    if (openStandardStreams().output) {
        report(EBADF, "standard output is closed");
        return kFailureStatus;
    }
    const TwinCommand command = parseTwinCommand(argc, argv);
    if (command.kind == TwinCommand::Kind::PrintError) {
        std::fputs(command.text.c_str(), stderr);
        return command.status;
    }
    if (command.kind == TwinCommand::Kind::PrintOutput) {
        try {
            writeOutput(command.text);
        } catch (const Failure& failure) {
            report(failure.number(), failure.description());
            return kFailureStatus;
        }
        return command.status;
    }

    QCoreApplication app(argc, argv);
    UdpEndpoint Winsock1;
    ReceiveBufferOption startupOption;
    TwinProgram* twin = nullptr;
    QtTimer tmrResetCaption([&] { twin->periodOver(); });
    TwinProgram program(command.options, {Winsock1, tmrResetCaption, startupOption},
                        {.output = writeOutput,
                         .report = [](const Failure& failure) { report(failure.number(), failure.description()); },
                         .leaveEventLoop = [](int status) { QCoreApplication::exit(status); }});
    twin = &program;
    if (program.start()) {
        QCoreApplication::exec();
    }
    return program.status();
}
