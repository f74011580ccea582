// zorvik-device-sim: poses as one or more Zorvik devices on a local (simulated)
// network and answers discovery probes. See usage() for the options.
#include <exception>
#include <iostream>
#include <span>

#include "errors.hpp"
#include "interface_guard.hpp"
#include "ipv4.hpp"
#include "options.hpp"
#include "simulator.hpp"
#include "stop_signals.hpp"

namespace {

constexpr const char* kName = "zorvik-device-sim: ";

int simulate(std::span<const char* const> args) {
    using namespace zorvik::devicesim;
    const Options options = parseOptions(args);
    if (options.help) {
        std::cout << usage() << std::flush;
        return std::cout ? 0 : 1;
    }
    const Interface interface = findInterface(options.interface);
    ensureSafeToJoin(interface);
    // Signals are caught before "ready", so a stop right after it still ends cleanly.
    const StopSignals stop;
    Simulator simulator(options, interface, stop);

    std::cout << kName << "ready on " << interface.name << " as " << options.hosts
              << (options.hosts == 1 ? " host" : " hosts") << " from "
              << formatIpv4(options.firstAddress) << std::endl;
    if (!std::cout) throw std::runtime_error("cannot write the ready line to stdout");
    simulator.run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return simulate({argv + 1, static_cast<std::size_t>(argc - 1)});
    } catch (const zorvik::devicesim::UsageError& e) {
        std::cerr << kName << e.what() << "\n" << zorvik::devicesim::usage();
        return 2;
    } catch (const zorvik::devicesim::Refusal& e) {
        std::cerr << kName << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << kName << e.what() << "\n";
        return 1;
    }
}
