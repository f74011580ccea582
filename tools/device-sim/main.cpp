// zorvik-device-sim: poses as one or more Zorvik devices on a local (simulated)
// network and answers discovery probes. See usage() for the options.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <span>

#include "errors.hpp"
#include "interface_guard.hpp"
#include "ipv4.hpp"
#include "options.hpp"
#include "simulator.hpp"
#include "standard_streams.hpp"
#include "stop_signals.hpp"

namespace {

constexpr const char* kName = "zorvik-device-sim: ";

void writeOut(const std::string& text) {
    if (const int error = zorvik::writeAll(STDOUT_FILENO, text)) {
        errno = error;
        zorvik::devicesim::throwErrno("cannot write to standard output");
    }
}

int simulate(std::span<const char* const> args) {
    using namespace zorvik::devicesim;
    const Options options = parseOptions(args);
    if (options.help) {
        writeOut(usage());
        return 0;
    }
    const Interface interface = findInterface(options.interface);
    ensureSafeToServe(interface, options.firstAddress, options.hosts);
    // Signals are caught before "ready", so a stop right after it still ends cleanly.
    const StopSignals stop;
    Simulator simulator(options, interface, stop);

    writeOut(kName + ("ready on " + interface.name) + " as " + std::to_string(options.hosts) +
             (options.hosts == 1 ? " host" : " hosts") + " from " + formatIpv4(options.firstAddress) + "\n");
    simulator.run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any socket could take the number of a closed standard descriptor.
    if (zorvik::openStandardStreams().output) {
        std::cerr << kName << "standard output is closed\n";
        return 1;
    }
    try {
        return simulate({argv + 1, static_cast<std::size_t>(argc - 1)});
    } catch (const zorvik::devicesim::UsageError& e) {
        std::cerr << kName << e.what() << "\nUsage: zorvik-device-sim [OPTIONS]\nRun with --help for more information.\n";
        return 2;
    } catch (const zorvik::devicesim::Refusal& e) {
        std::cerr << kName << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << kName << e.what() << "\n";
        return 1;
    }
}
