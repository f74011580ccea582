#include "twin_options.hpp"

#include <algorithm>
#include <string_view>
#include <tuple>

#include "installed_makers.hpp"
#include "option_values.hpp"

namespace zorvik {
namespace {

constexpr std::int32_t kMaxWaitMs = 3'600'000;

std::string description() {
    using namespace protocol;
    return "Sends a discovery probe to " + std::string(kGroup) + " port " + std::to_string(kPort) +
           " and prints\n\"" + std::string(kResultPrefix) + "ADDRESS\" for every answer, as it arrives.";
}

}  // namespace

Shown shownBy(const TwinOptions& options) {
    if (options.quiet) return Shown::Nothing;
    if (options.check) return Shown::Check;
    if (options.watch) return Shown::Changes;
    if (options.count) return Shown::Count;
    if (options.details) return Shown::Details;
    if (options.format == OutputFormat::Text) return options.unique ? Shown::FirstLines : Shown::Lines;
    return options.unique ? Shown::FirstRecords : Shown::Records;
}

TwinCommand parseTwinCommand(int argc, const char* const* argv) {
    TwinCommand command;
    TwinOptions& options = command.options;
    CLI::App app(description(), std::string(kTwinName));
    app.formatter(std::make_shared<HelpFormatter>());
    // The maker data installed, whatever --maker-dir says: read only when asked.
    app.set_version_flag("-V,--version", std::function<std::string()>([] {
                             return std::string(kTwinName) + " (" + std::string(protocol::kProductName) + ") " +
                                    std::string(protocol::kVersion) + "\nmakers: " + installedMakersSource();
                         }),
                         "Print the version and the maker data installed, and exit");
    auto* wait = app.add_option("-w,--wait", options.waitMs,
                                "Listen for MS milliseconds, 1 to 3600000 (default 5000; watching, at most a round)")
                     ->option_text("MS")
                     ->transform(wholeNumber(1, kMaxWaitMs, "milliseconds"));
    app.add_option("--probes", options.probes, "Send N probes 200 ms apart, 1 to 10 (default 1), for lossy Wi-Fi")
        ->option_text("N")
        ->transform(wholeNumber(1, 10, "probes"));
    app.add_option("--ttl", options.ttl, "Let the probe cross N - 1 multicast routers, 1 to 255 (default 1)")
        ->option_text("N")
        ->transform(wholeNumber(1, 255, "hops"));
    auto* interface =
        app.add_option("-i,--interface", options.interfaces,
                       "Send the probe by this interface (name or IPv4 address); again for more")
            ->option_text("NAME|ADDRESS")
            ->allow_extra_args(false)
            ->transform(notEmpty("an interface's name or IPv4 address"));
    app.add_flag("-a,--all-interfaces", options.allInterfaces,
                 "One probe by every interface that is up, multicast-capable and has IPv4; not with -i")
        ->excludes(interface);
    app.add_flag("-v,--verbose", options.verbose, "Say on standard error which interfaces were probed");
    std::string format;
    app.add_option("--format", format, "text, json (JSON Lines) or csv (RFC 4180); default text")
                             ->option_text("FORMAT")
                             ->transform(oneOf({"text", "json", "csv"}));
    bool json = false;
    app.add_flag("-j,--json", json,
                 "--format json: per answer its address, interface, port, bytes and ms since the probe");
    app.add_flag("-u,--unique", options.unique, "List each address once, at its first answer");
    auto* details = app.add_flag("--details", options.details,
                                 "One row per device by address when the wait ends: address, interface, MAC, maker, "
                                 "name, answers (with --probes, of how many probes)");
    app.add_option("--maker-dir", options.makerDir,
                   "With --details, read the IEEE registries (oui.csv, mam.csv, oui36.csv, iab.csv) from DIR")
        ->option_text("DIR")
        ->transform(notEmpty("a folder"))
        ->needs(details);
    auto* count = app.add_flag("--count", options.count, "Print only the number of devices that answered (JSON, CSV: as a record)")
                      ->excludes(details);
    app.add_flag("-q,--quiet", options.quiet, "Print no results, hints or notes; the exit status tells");
    auto* watch = app.add_flag("--watch", options.watch,
                               "Probe every round until stopped; print when a device appears or is gone, or a round "
                               "is lost")
                      ->excludes(count)
                      ->excludes(details);
    app.add_option("--every", options.everySeconds, "Watching, a round every SECONDS, 1 to 3600 (default 10)")
        ->option_text("SECONDS")
        ->transform(wholeNumber(1, 3600, "seconds"))
        ->needs(watch);
    app.add_option("--missing", options.missingRounds,
                   "Watching, a device missing N rounds in a row is gone, 1 to 100 (default 2)")
        ->option_text("N")
        ->transform(wholeNumber(1, 100, "rounds"))
        ->needs(watch);
    auto* check = app.add_flag("--check", options.check,
                               "For Nagios, Icinga and kin: one line with performance data; exit 0 OK, 1 WARNING, "
                               "2 CRITICAL, 3 UNKNOWN")
                      ->excludes(watch)
                      ->excludes(count)
                      ->excludes(details);
    app.get_option("--quiet")->excludes(check);
    std::string warning, critical;
    for (auto [name, text, what] : {std::tuple{"--warning", &warning, "WARNING"}, {"--critical", &critical, "CRITICAL"}}) {
        app.add_option(name, *text, std::string("Checking, ") + what + " when the number of devices is outside RANGE "
                                    "(10: below 10; @ for inside)")
            ->option_text("RANGE")
            ->transform(alertRange())
            ->needs(check);
    }
    app.add_option("--known", options.knownFile,
                   "Mark answers known or new by FILE (an IPv4 or MAC address a line, then a label); list the missing")
        ->option_text("FILE")
        ->transform(notEmpty("a file's name"));
    app.add_option("--prometheus", options.prometheusFile,
                   "Also write FILE for the node exporter's textfile collector when the wait ends, or each round; "
                   "even with -q")
        ->option_text("FILE")
        ->transform(notEmpty("a file's name"));
    app.get_formatter()->column_width(30);
    app.footer("Exit status: 0 if any device answered (or a watch was stopped), 1 if none, 2 on a failure\n"
               "(with --check, 0 to 3 as above, a failure 3); with --known, 3 if some known device is missing.");
    try {
        app.parse(argc, argv);
        if (json && !format.empty() && format != "json") {
            throw CLI::ValidationError("--format", format + " disagrees with --json, which is --format json");
        }
        options.format = json || format == "json" ? OutputFormat::Json
                         : format == "csv"        ? OutputFormat::Csv
                                                  : OutputFormat::Text;
        if (!warning.empty()) options.warning = parseAlertRange(warning);
        if (!critical.empty()) options.critical = parseAlertRange(critical);
        if (options.watch && wait->count() == 0) {
            options.waitMs = std::min(protocol::kListeningPeriodMs, options.everySeconds * 1000);
        }
    } catch (const CLI::CallForHelp&) {
        command.kind = TwinCommand::Kind::PrintOutput;
        command.text = app.help();
    } catch (const CLI::CallForVersion& version) {
        command.kind = TwinCommand::Kind::PrintOutput;
        command.text = std::string(version.what()) + "\n";
    } catch (const CLI::ParseError& error) {
        command.kind = TwinCommand::Kind::PrintError;
        command.text = std::string(kTwinName) + ": " + error.what() + "\nUsage: " + std::string(kTwinName) +
                       " [OPTIONS]\nRun with --help for more information.\n";
        const bool checking = std::any_of(argv, argv + argc, [](const char* arg) { return std::string_view(arg) == "--check"; });
        command.status = checking ? kUnknownStatus : kFailureStatus;
    }
    return command;
}

}  // namespace zorvik
