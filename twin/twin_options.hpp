#pragma once

#include <cstdint>
#include <string>

#include "protocol.hpp"

namespace zorvik {

// How the command-line program lists what it finds.
struct TwinOptions {
    std::int32_t waitMs = protocol::kListeningPeriodMs;
    bool json = false;    // one JSON object per answer (JSON Lines)
    bool unique = false;  // each address once, at its first answer
    std::string interface;        // the probe leaves by this one (name or address)
    bool allInterfaces = false;   // one probe by every multicast-capable interface
    bool verbose = false;         // says on standard error which interfaces were probed
};

// What the command line asks for: a discovery, or a text to print and a status
// (help and version on standard output, a usage error on standard error).
struct TwinCommand {
    enum class Kind { Discover, PrintOutput, PrintError };
    Kind kind = Kind::Discover;
    TwinOptions options;
    std::string text;
    int status = 0;
};

inline constexpr int kFoundStatus = 0;
inline constexpr int kNoneFoundStatus = 1;
inline constexpr int kFailureStatus = 2;

// Parses the arguments after the program's name (UTF-8).
TwinCommand parseTwinCommand(int argc, const char* const* argv);

}  // namespace zorvik
