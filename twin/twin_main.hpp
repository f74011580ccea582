#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "interface_choice.hpp"
#include "twin_options.hpp"
#include "twin_program.hpp"

namespace zorvik {

// The interfaces the probe leaves by, as the options ask, from those `list`
// gives; none for the route's choice.
std::vector<NetworkInterface> probeInterfaces(const TwinOptions& options,
                                              const std::function<std::vector<NetworkInterface>()>& list);

// One line on what the system and the program dropped, ending in "\n", that
// says where help is; empty when nothing was dropped.
std::string dropNote(const DropCounts& drops, std::string_view help);

// `text`, whose lines end in "\n", with the console's own line ends.
std::string withNewlines(std::string_view text, std::string_view newline);

// The command-line program from its arguments to its exit status, on the
// platform's endpoint, timer and start-up socket option.
template <typename Timer, typename StartupOption>
int runTwin(int argc, const char* const* argv, const TwinConsole& console, EndpointParts parts) {
    const auto printError = [&](std::string_view text) { console.error(withNewlines(text, console.newline)); };
    const auto usageError = [&](const std::string& text) {
        printError(std::string(kTwinName) + ": " + text + "\n");
        return kFailureStatus;
    };
    const auto report = [&](const Failure& failure) {
        usageError("error " + std::to_string(failure.number()) + ": " + failure.description());
    };
    const TwinCommand command = parseTwinCommand(argc, argv);
    if (command.kind == TwinCommand::Kind::PrintError) {
        printError(command.text);
        return command.status;
    }
    std::vector<NetworkInterface> by;
    try {
        if (command.kind == TwinCommand::Kind::PrintOutput) {
            console.output(withNewlines(command.text, console.newline));
            return command.status;
        }
        by = probeInterfaces(command.options, listNetworkInterfaces);
    } catch (const UsageError& error) {
        return usageError(error.what());
    } catch (const Failure& failure) {
        report(failure);
        return kFailureStatus;
    }
    if (command.options.verbose && !by.empty()) {
        printError(std::string(kTwinName) + ": probing by " + describeInterfaces(by) + "\n");
    }

    UdpEndpoint Winsock1(std::move(parts));
    std::vector<std::uint32_t> addresses;
    for (const auto& i : by) addresses.push_back(i.address);
    Winsock1.leaveBy(std::move(addresses));
    StartupOption startupOption;
    TwinProgram* program = nullptr;
    Timer tmrResetCaption([&] { program->periodOver(); });
    TwinProgram twin(command.options, {Winsock1, tmrResetCaption, startupOption}, console, report);
    program = &twin;
    if (twin.start()) {
        console.runEventLoop();
    }
    if (!command.options.quiet) {
        printError(dropNote(Winsock1.drops(), console.dropHelp));
    }
    return twin.status();
}

}  // namespace zorvik
