#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zorvik::devicesim {

struct Options {
    std::string interface = "lo";
    std::uint32_t hosts = 1;
    std::uint32_t firstAddress = 0x7f000002;  // 127.0.0.2, host order
    std::uint32_t answers = 1;
    std::uint32_t delayMs = 0;
    std::string payload;
    std::optional<std::uint32_t> burst;   // answers per probe, rotating over the hosts
    std::optional<std::uint64_t> probes;  // stop after answering this many
    bool help = false;
};

// Reads the arguments after the program name; throws UsageError on bad input.
Options parseOptions(std::span<const char* const> args);

std::string usage();

}  // namespace zorvik::devicesim
