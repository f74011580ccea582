#include "options.hpp"

#include <CLI/CLI.hpp>

#include <string_view>
#include <vector>

#include "errors.hpp"
#include "ipv4.hpp"
#include "protocol.hpp"

namespace zorvik::devicesim {
namespace {

// The largest payload a single IPv4 UDP datagram can carry.
constexpr std::size_t kMaxPayload = 65507;

// What the command line gives, before the checks across options.
struct Given {
    Options options;
    std::string firstAddress = "127.0.0.2";
    std::uint32_t burst = 0;
    std::uint64_t probes = 0;
    CLI::Option* answers = nullptr;
    CLI::Option* burstOption = nullptr;
    CLI::Option* probesOption = nullptr;
};

void describe(CLI::App& app, Given& given) {
    Options& o = given.options;
    app.description("Poses as Zorvik devices: answers every probe sent to " + std::string(protocol::kGroup) + ":" +
                    std::to_string(protocol::kPort) + ".");
    app.get_formatter()->column_width(24);
    app.add_option("--interface", o.interface, "Interface to join the group on (default lo)")->option_text("NAME");
    app.add_option("--hosts", o.hosts, "Hosts to pose as, at consecutive addresses (default 1)")
        ->option_text("K")
        ->check(CLI::Range(1, 1000));
    app.add_option("--first-address", given.firstAddress, "Address of the first host (default 127.0.0.2)")
        ->option_text("A");
    given.answers = app.add_option("--answers", o.answers, "Answers per probe from each host (default 1)")
                        ->option_text("N")
                        ->check(CLI::Range(1, 1'000'000));
    app.add_option("--delay", o.delayMs, "Wait before answering, in ms (default 0)")
        ->option_text("MS")
        ->check(CLI::Range(0, 3'600'000));
    app.add_option("--payload", o.payload, "Content of each answer (default ZV; may be empty)")
        ->option_text("TEXT")
        ->check([](const std::string& text) {
            return text.size() > kMaxPayload ? "longer than one datagram can carry" : "";
        });
    given.burstOption = app.add_option("--burst", given.burst, "Instead, send N answers per probe, rotating over the hosts")
                            ->option_text("N")
                            ->check(CLI::Range(1, 100'000'000))
                            ->excludes(given.answers);
    given.probesOption = app.add_option("--probes", given.probes, "Exit after answering N probes (default: until SIGINT or SIGTERM)")
                             ->option_text("N")
                             ->check(CLI::Range(std::uint64_t{1}, UINT64_MAX));
    app.footer("Interfaces other than loopback, and addresses outside 127.0.0.0/8, are refused\n"
               "unless the network namespace is provably private (as in scripts/lan).");
}

}  // namespace

Options parseOptions(std::span<const char* const> args) {
    Given given;
    // Answers carry the probe's two magic letters unless told otherwise.
    given.options.payload = protocol::kProbe.substr(0, 2);
    CLI::App app("", "zorvik-device-sim");
    describe(app, given);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        given.options.help = true;
        return given.options;
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    Options& options = given.options;
    if (*given.burstOption) options.burst = given.burst;
    if (*given.probesOption) options.probes = given.probes;
    const auto address = parseIpv4(given.firstAddress);
    if (!address) {
        throw UsageError("--first-address needs an IPv4 address, not '" + given.firstAddress + "'");
    }
    options.firstAddress = *address;
    if (options.firstAddress > UINT32_MAX - (options.hosts - 1)) {
        throw UsageError("--hosts runs past the last IPv4 address");
    }
    // A host answers from its own address: a broadcast, multicast or zero one cannot be.
    const std::uint32_t last = options.firstAddress + (options.hosts - 1);
    if (options.firstAddress < 0x01000000 || last > 0xDFFFFFFF) {
        throw UsageError("--first-address and --hosts need unicast addresses, from 1.0.0.0 to 223.255.255.255");
    }
    return options;
}

std::string usage() {
    Given given;
    CLI::App app("", "zorvik-device-sim");
    describe(app, given);
    return app.help();
}

}  // namespace zorvik::devicesim
