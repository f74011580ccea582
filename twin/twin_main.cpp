#include "twin_main.hpp"

#include <algorithm>
#include "installed_makers.hpp"

namespace zorvik {

std::vector<NetworkInterface> probeInterfaces(const TwinOptions& options,
                                              const std::function<std::vector<NetworkInterface>()>& list) {
    if (options.allInterfaces) {
        return everyMulticastInterface(list());
    }
    std::vector<NetworkInterface> chosen;
    if (options.interfaces.empty()) {
        return chosen;
    }
    const auto available = list();
    for (const auto& nameOrAddress : options.interfaces) {
        // Each interface once, however often and by whichever of its names or addresses it is given.
        auto i = chooseInterface(available, nameOrAddress);
        if (std::none_of(chosen.begin(), chosen.end(), [&](const NetworkInterface& c) { return c.name == i.name; })) {
            chosen.push_back(std::move(i));
        }
    }
    return chosen;
}

std::string dropNote(const DropCounts& drops, std::string_view help) {
    const std::uint64_t bySystem = drops.bySystem.value_or(0);
    if (bySystem == 0 && drops.atCaps == 0) {
        return {};
    }
    std::string note = std::string(kTwinName) + ": answers were lost: ";
    note += drops.bySystem ? "the system dropped " + std::to_string(bySystem) : "the system does not count its drops";
    if (drops.bufferBytes) {
        note += " (its receive buffer held " + std::to_string(*drops.bufferBytes) + " bytes)";
    }
    note += ", and this program dropped " + std::to_string(drops.atCaps) + " at its limit of " +
            std::to_string(ArrivalQueue::kMaxQueuedDatagrams) + " answers or " +
            std::to_string(ArrivalQueue::kMaxQueuedBytes >> 20) + " MiB waiting; " + std::string(help) + "\n";
    return note;
}

std::string withNewlines(std::string_view text, std::string_view newline) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += newline;
        } else {
            out += c;
        }
    }
    return out;
}

int runTwin(int argc, const char* const* argv, const TwinConsole& console, const TwinPlatform& platform) {
    const TwinCommand command = parseTwinCommand(argc, argv);
    const bool checking = command.options.check || command.status == kUnknownStatus;
    const int failed = checking ? kUnknownStatus : kFailureStatus;
    const auto printError = [&](std::string_view text) { console.error(withNewlines(text, console.newline)); };
    // A checker shows standard output only: there the failure is UNKNOWN, in a word.
    const auto tellChecker = [&](std::string_view what) {
        if (!checking) return;
        try {
            console.output("ZORVIK UNKNOWN - " + std::string(what.substr(0, what.find('\n'))) + std::string(console.newline));
        } catch (const Failure&) {
            // Standard output is gone; standard error and the status tell.
        }
    };
    const auto usageError = [&](const std::string& text) {
        printError(std::string(kTwinName) + ": " + text + "\n");
        tellChecker(text);
        return failed;
    };
    const auto report = [&](const Failure& failure) {
        usageError("error " + std::to_string(failure.number()) + ": " + failure.description());
    };
    if (command.kind == TwinCommand::Kind::PrintError) {
        printError(command.text);
        tellChecker(std::string_view(command.text).substr(kTwinName.size() + 2));
        return command.status;
    }
    std::vector<NetworkInterface> by;
    MakerRegistry givenMakers;
    std::optional<Inventory> known;
    try {
        if (command.kind == TwinCommand::Kind::PrintOutput) {
            console.output(withNewlines(command.text, console.newline));
            return command.status;
        }
        // Read before any probe, so that a folder with no registry stops the run at once.
        if (!command.options.makerDir.empty()) {
            givenMakers = folderMakers(command.options.makerDir, [&](const std::string& note) {
                if (!command.options.quiet) printError(std::string(kTwinName) + ": " + note + "\n");
            });
        }
        by = probeInterfaces(command.options, listNetworkInterfaces);
        if (!command.options.knownFile.empty()) known.emplace(readKnownDevices(command.options.knownFile));
    } catch (const UsageError& error) {
        return usageError(error.what());
    } catch (const Failure& failure) {
        report(failure);
        return failed;
    }
    if (command.options.verbose && !by.empty()) {
        printError(std::string(kTwinName) + ": probing by " + describeInterfaces(by) + "\n");
    }

    // What fails here fails before any handler runs, or in the event loop itself.
    try {
        UdpEndpoint Winsock1(platform.endpointParts());
        std::vector<std::uint32_t> addresses;
        for (const auto& i : by) addresses.push_back(i.address);
        Winsock1.leaveBy(std::move(addresses));
        Winsock1.setGroupTtl(command.options.ttl);
        TwinProgram* program = nullptr;
        const auto tmrResetCaption = platform.timer([&] { program->periodOver(); });
        const MakerTable makers = givenMakers.table();
        TwinProgram twin(command.options,
                         {Winsock1, *tmrResetCaption, platform.startupOption,
                          command.options.makerDir.empty() ? nullptr : &makers},
                         console, report, std::move(known));
        program = &twin;
        if (twin.start()) {
            console.runEventLoop();
        }
        // A check gives its drops in its performance data.
        if (twin.shown() != Shown::Nothing && twin.shown() != Shown::Check) {
            printError(dropNote(Winsock1.drops(), console.dropHelp));
        }
        return twin.status();
    } catch (const Failure& failure) {
        report(failure);
        return failed;
    }
}

}  // namespace zorvik
