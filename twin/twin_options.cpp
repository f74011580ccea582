#include "twin_options.hpp"

#include <CLI/CLI.hpp>

namespace zorvik {
namespace {

constexpr const char* kName = "zorvik-discover";
constexpr std::int32_t kMaxWaitMs = 3'600'000;

std::string description() {
    using namespace protocol;
    return "Sends one discovery probe to " + std::string(kGroup) + " port " + std::to_string(kPort) +
           " and prints\n\"" + std::string(kResultPrefix) + "ADDRESS\" for every answer, as it arrives.";
}

}  // namespace

TwinCommand parseTwinCommand(int argc, const char* const* argv) {
    TwinCommand command;
    TwinOptions& options = command.options;
    CLI::App app(description(), kName);
    app.set_version_flag("-V,--version",
                         std::string(kName) + " (" + std::string(protocol::kProductName) + ") " +
                             std::string(protocol::kVersion));
    app.add_option("-w,--wait", options.waitMs, "Listen for MS milliseconds, 1 to 3600000 (default 5000)")
        ->option_text("MS")
        ->default_val(protocol::kListeningPeriodMs)
        ->check(CLI::Range(1, kMaxWaitMs));
    auto* interface =
        app.add_option("-i,--interface", options.interface, "Send the probe by this interface (name or IPv4 address)")
            ->option_text("NAME|ADDRESS");
    app.add_flag("-a,--all-interfaces", options.allInterfaces,
                 "One probe by every interface that is up, multicast-capable and has IPv4")
        ->excludes(interface);
    app.add_flag("-v,--verbose", options.verbose, "Say on standard error which interfaces were probed");
    app.add_flag("-j,--json", options.json,
                 "One JSON object per answer: address, port, bytes, ms since the probe");
    app.add_flag("-u,--unique", options.unique, "List each address once, at its first answer");
    app.get_formatter()->column_width(30);
    app.footer("Exit status: 0 if any device answered, 1 if none, 2 on a failure.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        command.kind = TwinCommand::Kind::PrintOutput;
        command.text = app.help();
    } catch (const CLI::CallForVersion& version) {
        command.kind = TwinCommand::Kind::PrintOutput;
        command.text = std::string(version.what()) + "\n";
    } catch (const CLI::ParseError& error) {
        command.kind = TwinCommand::Kind::PrintError;
        command.text = std::string(kName) + ": " + error.what() + "\nUsage: " + kName +
                       " [OPTIONS]\nRun with --help for more information.\n";
        command.status = kFailureStatus;
    }
    return command;
}

}  // namespace zorvik
