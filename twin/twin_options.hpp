#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alert_range.hpp"
#include "protocol.hpp"

namespace zorvik {

enum class OutputFormat { Text, Json, Csv };

// How the command-line program discovers and lists what it finds.
struct TwinOptions {
    std::int32_t waitMs = protocol::kListeningPeriodMs;
    OutputFormat format = OutputFormat::Text;
    bool unique = false;  // each address once, at its first answer
    std::vector<std::string> interfaces;  // the probe leaves by each of these (names or addresses)
    bool allInterfaces = false;   // one probe by every multicast-capable interface
    bool verbose = false;         // says on standard error which interfaces were probed
    std::int32_t ttl = 1;         // the probe's multicast TTL: 1 stays on the segment
    std::int32_t probes = 1;      // per discovery, kProbeSpacingMs apart; the wait counts from the last
    bool details = false;         // one row per device, with what the system knows of it, when the wait ends
    std::string makerDir;         // --details: the IEEE registries from here, not the installed ones
    bool count = false;           // only the number of devices
    bool quiet = false;           // no results, hints or notes: the exit status tells
    bool watch = false;           // a round every everySeconds until stopped, printing the changes
    std::int32_t everySeconds = 10;
    std::int32_t missingRounds = 2;  // missed in a row before a device counts as gone
    bool check = false;              // one line and status for a monitoring checker
    std::optional<AlertRange> warning, critical;  // on the number of devices
    std::string knownFile;                         // the devices that should answer (known_devices.hpp)
    std::string prometheusFile;  // replaced when the wait ends, or every round, in the textfile format
};

// What the program shows of the answers: one of these, worked out once from the options.
enum class Shown {
    Nothing,       // --quiet: no results, hints or notes; the exit status tells
    Lines,         // the window's line for each answer, as it arrives
    FirstLines,    // --unique: the line of each address's first answer
    Records,       // a JSON or CSV record for each answer
    FirstRecords,  // --unique, in records
    Count,         // --count: the number of devices, when the wait ends
    Details,       // --details: one row per device, when the wait ends
    Changes,       // --watch: the devices that appeared or are gone, each round
    Check,         // --check: a checker's line, when the wait ends
};
Shown shownBy(const TwinOptions& options);

inline constexpr std::int32_t kProbeSpacingMs = 200;
// The program's name, which also begins each of its messages on standard error.
inline constexpr std::string_view kTwinName = "zorvik-discover";

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
// With --known: some answered, but not every known device.
inline constexpr int kMissingStatus = 3;
// A checker reads 2 as CRITICAL: with --check, the tool's own failure is UNKNOWN.
inline constexpr int kUnknownStatus = static_cast<int>(CheckState::Unknown);

// Parses the arguments after the program's name (UTF-8).
TwinCommand parseTwinCommand(int argc, const char* const* argv);

}  // namespace zorvik
