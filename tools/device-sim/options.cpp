#include "options.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "errors.hpp"
#include "ipv4.hpp"
#include "protocol.hpp"

namespace zorvik::devicesim {
namespace {

// The largest payload a single IPv4 UDP datagram can carry.
constexpr std::uint64_t kMaxPayload = 65507;

constexpr std::array<std::string_view, 8> kValueOptions = {"--interface", "--hosts", "--first-address",
                                                           "--answers",   "--delay", "--payload",
                                                           "--burst",     "--probes"};

template <typename Number>
Number parseNumber(std::string_view name, std::string_view text, Number min, Number max) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min ||
        value > max) {
        throw UsageError(std::string(name) + " needs a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ", not '" + std::string(text) + "'");
    }
    return value;
}

}  // namespace

Options parseOptions(std::span<const char* const> args) {
    Options options;
    // Answers carry the probe's two magic letters unless told otherwise.
    options.payload = protocol::kProbe.substr(0, 2);
    bool answersGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            options.help = true;
            continue;
        }
        // Every other option takes a value, as "--name value" or "--name=value".
        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (std::find(kValueOptions.begin(), kValueOptions.end(), name) == kValueOptions.end()) {
            throw UsageError(std::string(name) + ": unknown option");
        }
        std::string_view value;
        if (equals != arg.npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError(std::string(name) + " needs a value");
        }

        if (name == "--interface") {
            options.interface = value;
        } else if (name == "--hosts") {
            options.hosts = parseNumber<std::uint32_t>(name, value, 1, 1000);
        } else if (name == "--first-address") {
            const auto address = parseIpv4(std::string(value));
            if (!address)
                throw UsageError("--first-address needs an IPv4 address, not '" + std::string(value) +
                                 "'");
            options.firstAddress = *address;
        } else if (name == "--answers") {
            options.answers = parseNumber<std::uint32_t>(name, value, 1, 1'000'000);
            answersGiven = true;
        } else if (name == "--delay") {
            options.delay =
                std::chrono::milliseconds(parseNumber<std::uint32_t>(name, value, 0, 3'600'000));
        } else if (name == "--payload") {
            if (value.size() > kMaxPayload)
                throw UsageError("--payload is longer than one datagram can carry");
            options.payload = value;
        } else if (name == "--burst") {
            options.burst = parseNumber<std::uint32_t>(name, value, 1, 100'000'000);
        } else if (name == "--probes") {
            options.probes = parseNumber<std::uint64_t>(name, value, 1, UINT64_MAX);
        }
    }
    if (options.burst && answersGiven) throw UsageError("--burst replaces --answers; give only one");
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
    const std::string destination =
        std::string(protocol::kGroup) + ":" + std::to_string(protocol::kPort);
    return "usage: zorvik-device-sim [options]\n"
           "Poses as Zorvik devices: answers every probe sent to " +
           destination +
           ".\n"
           "  --interface NAME      interface to join the group on (default lo)\n"
           "  --hosts K             hosts to pose as, at consecutive addresses (default 1)\n"
           "  --first-address A     address of the first host (default 127.0.0.2)\n"
           "  --answers N           answers per probe from each host (default 1)\n"
           "  --delay MS            wait before answering (default 0)\n"
           "  --payload TEXT        content of each answer (default ZV; may be empty)\n"
           "  --burst N             instead, send N answers per probe, rotating over the hosts\n"
           "  --probes N            exit after answering N probes (default: run until\n"
           "                        SIGINT or SIGTERM)\n"
           "  --help                show this text\n"
           "Interfaces other than loopback, and addresses outside 127.0.0.0/8, are refused\n"
           "unless the network namespace is provably private (as in scripts/lan).\n";
}

}  // namespace zorvik::devicesim
