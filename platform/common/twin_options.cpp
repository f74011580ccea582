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
    app.add_flag("-j,--json", options.json,
                 "One JSON object per answer: address, port, bytes, ms since the probe");
    app.add_flag("-u,--unique", options.unique, "List each address once, at its first answer");
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
