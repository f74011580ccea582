// The twin's own parts without a network: its options, its records and its
// watch, whose clock is a seam so that 1,000 rounds take no real time.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "alert_range.hpp"
#include "console_pause.hpp"
#include "destination.hpp"
#include "device_tally.hpp"
#include "device_watch.hpp"
#include "endpoint_fakes.hpp"
#include "interface_choice.hpp"
#include "known_devices.hpp"
#include "prometheus_text.hpp"
#include "record_format.hpp"
#include "twin_options.hpp"
#include "twin_program.hpp"
#include "untrusted_text.hpp"

#ifdef __SANITIZE_ADDRESS__
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();  // GCC ships no header for it
#endif

namespace zorvik {
namespace {

using std::chrono::seconds;

std::size_t heapInUse() {
#ifdef __SANITIZE_ADDRESS__
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TwinCommand parse(std::vector<const char*> args) {
    args.insert(args.begin(), "zorvik-discover");
    return parseTwinCommand(static_cast<int>(args.size()), args.data());
}

// ---- Options ----

TEST(TwinOptionsTest, parseValues_plainDecimalInRangeTaken_elseUsageSayingWhy) {
    struct Case { std::vector<const char*> args; const char* error; };
    for (const auto& [args, error] : std::initializer_list<Case>{
             {{"-w", "010"}, ""}, {{"-w", "abc"}, "--wait: 'abc' is not a number"}, {{"-w", " 5"}, "' 5' is not a number"},
             {{"-w", "3600000", "--probes", "10", "--watch", "--every", "3600", "--missing", "100"}, ""},
             {{"-w", "3600001"}, "--wait: 3600001 is out of range"}, {{"--watch", "--missing", "101"}, "101 is out of range"},
             {{"-w", "0x10"}, "'0x10' is not a number"}, {{"-w", "-1"}, "'-1' is not a number"},
             {{"-w", "99999999999999999999"}, "out of range; give 1 to 3600000 milliseconds"},
             {{"-i", ""}, "--interface: the value is empty"}, {{"-i", "a", "b"}, "not expected: b"},
             {{"-i", "a", "-a"}, "excludes"}, {{"--watch", "--every", "0"}, "--every: 0 is out of range"},
             {{"--watch", "--every", "3601"}, "3601 is out of range"}, {{"--probes", "11"}, "--probes: 11 is out of range"},
             {{"--ttl", "0"}, "--ttl: 0 is out of range"}, {{"--ttl", "256"}, "--ttl: 256 is out of range"},
             {{"--watch", "--missing", "0"}, "--missing: 0 is out of range"}, {{"--every", "5"}, "--every requires --watch"},
             {{"--count", "--watch"}, "excludes"}, {{"--details", "--watch"}, "excludes"},
             {{"--format", "xml"}, "--format: xml is not one of text, json, csv"},
             {{"-j", "--format", "csv"}, "csv disagrees with --json"}, {{"-j", "--format", "json"}, ""}}) {
        const auto command = parse(args);
        const bool refused = command.kind == TwinCommand::Kind::PrintError;
        EXPECT_TRUE(*error ? refused && command.status == kFailureStatus && command.text.find(error) != std::string::npos
                           : !refused) << args[0] << ' ' << args[1] << ": " << command.text;
    }
    EXPECT_EQ(parse({"-w", "010"}).options.waitMs, 10);  // never octal
    const auto most =
        parse({"-w", "3600000", "--probes", "10", "--ttl", "255", "--watch", "--every", "3600", "--missing", "100"}).options;
    EXPECT_TRUE(most.waitMs == 3'600'000 && most.probes == 10 && most.ttl == 255 && most.everySeconds == 3600 &&
                most.missingRounds == 100);
    EXPECT_EQ(parse({}).options.ttl, 1);
    EXPECT_EQ(parse({"-i", "eth0", "--interface", "10.0.0.5"}).options.interfaces, (std::vector<std::string>{"eth0", "10.0.0.5"}));
}

TEST(TwinOptionsTest, parseWatchAndHelp_waitDefaultsToTheLesserOf5sAndTheRound_helpWithoutCli11Notes) {
    EXPECT_EQ(parse({"--watch", "--every", "2"}).options.waitMs, 2000);
    EXPECT_EQ(parse({"--watch"}).options.waitMs, 5000);
    const auto watch = parse({"--watch", "--every", "60", "-w", "300", "--missing", "3", "--format", "csv"}).options;
    EXPECT_TRUE(watch.waitMs == 300 && watch.everySeconds == 60 && watch.missingRounds == 3 &&
                watch.format == OutputFormat::Csv);
    const auto help = parse({"--help"}).text;
    EXPECT_TRUE(help.find("Excludes") == std::string::npos && help.find("Needs") == std::string::npos &&
                help.find("--watch") != std::string::npos) << help;
}

// A checker's ranges: outside alerts, @ inside, both ends included; start 0 and
// its colon optional, ~ no start, no end none. Critical wins over warning.
TEST(TwinCheckTest, ranges_alertOutsideOrInsideBothEndsIncluded_elseRefused_stateAndLineAsCheckersRead) {
    constexpr std::int64_t values[] = {-1, 0, 9, 10, 11, 15, 20, 21};
    for (const auto& [text, alerts] : std::initializer_list<std::pair<const char*, const char*>>{
             {"10", "A...AAAA"}, {"10:", "AAA....."}, {"~:10", "....AAAA"}, {"10:20", "AAA....A"},
             {"@10:20", "...AAAA."}, {"@10", ".AAA...."}, {"-1:0", "..AAAAAA"}, {"10:10", "AAA.AAAA"}}) {
        const auto range = parseAlertRange(text);
        ASSERT_TRUE(range) << text;
        std::string got;
        for (const auto value : values) got += range->alerts(value) ? 'A' : '.';
        EXPECT_EQ(got, alerts) << text;
    }
    for (const char* bad : {"", "~", "@", "20:10", "x", "1.5", "10:x", "+5", "5 ", "1:2:3", "10~", "99999999999999999999"}) {
        std::string why;
        EXPECT_FALSE(parseAlertRange(bad, &why)) << bad;
        EXPECT_TRUE(why.starts_with("'" + std::string(bad) + "' is not a range")) << why;
    }
    const auto warning = parseAlertRange("10:"), critical = parseAlertRange("5:");
    EXPECT_EQ(checkLine(checkState(12, warning, critical), 12, 0, warning, critical),
              "ZORVIK OK - 12 devices|devices=12;10:;5:;0; dropped=0c");
    EXPECT_EQ(checkLine(checkState(1, std::nullopt, std::nullopt), 1, 7, std::nullopt, std::nullopt),
              "ZORVIK OK - 1 device|devices=1;;;0; dropped=7c");
    EXPECT_EQ(checkState(10, warning, critical), CheckState::Ok);
    EXPECT_EQ(checkState(9, warning, critical), CheckState::Warning);
    EXPECT_EQ(checkState(4, warning, critical), CheckState::Critical);
    EXPECT_EQ(checkState(4, critical, warning), CheckState::Critical);  // both alert: critical
    EXPECT_EQ(checkStateName(CheckState::Unknown), "UNKNOWN");
    // Options: ranges only with --check, refused with status 3 there.
    EXPECT_TRUE(parse({"--check", "--warning", "@0:3", "--critical", "~:0"}).options.warning->inside);
    for (const auto& [args, error] : std::initializer_list<std::pair<std::vector<const char*>, const char*>>{
             {{"--warning", "5"}, "--warning requires --check"}, {{"--check", "--watch"}, "excludes"},
             {{"--check", "-q"}, "excludes"}, {{"--check", "--count"}, "excludes"},
             {{"--check", "--critical", "5:1"}, "--critical: '5:1' is not a range: its start is past its end"}}) {
        const auto command = parse(args);
        EXPECT_TRUE(command.kind == TwinCommand::Kind::PrintError && command.text.find(error) != std::string::npos)
            << command.text;
        EXPECT_EQ(command.status, args[0] == std::string_view("--check") ? kUnknownStatus : kFailureStatus);
    }
}

// ---- Known devices ----

// What a --known file gives: "address|label;" for each device, or the error.
std::string parsed(std::string_view text) {
    try {
        std::string out;
        for (const auto& device : parseKnownDevices(text, "hosts.txt")) out += device.listed() + '|' + device.label + ';';
        return out;
    } catch (const UsageError& error) {
        return error.what();
    }
}

TEST(KnownDevicesTest, parseKnownDevices_textCsvMacsCommentsHeader_elseTheFileAndLineSayingWhy) {
    EXPECT_EQ(parsed("\xef\xbb\xbf# fleet\r\naddress,label\r\n10.0.0.9\tprinter  2nd floor \r\n\n  # off\n"
                     "00-22-72-AB-00-01,\"cam, hall\",extra\n10.0.0.10\n 02:00:00:00:00:0a , x \n10.0.0.11 ,=1+2"),
              "10.0.0.9|printer  2nd floor;00:22:72:ab:00:01|cam, hall;10.0.0.10|;02:00:00:00:00:0a|x;10.0.0.11|=1+2;");
    const std::string tooLong(kMaxLabelBytes + 1, 'x');
    std::string tooMany;
    for (std::size_t i = 0; i <= kMaxKnownDevices; ++i) tooMany += "10.0." + std::to_string(i >> 8) + '.' + std::to_string(i & 255) + '\n';
    for (const auto& [text, error] : std::initializer_list<std::pair<std::string, std::string>>{
             {"10.0.0.1\n\n10.0.0.300 x", "hosts.txt:3: \"10.0.0.300\" is not an IPv4 or MAC address"},
             {"address,label\nname,label", "hosts.txt:2: \"name\" is not"},  // a header only first
             {"printer 10.0.0.1", "hosts.txt:1: \"printer\" is not"},  // no comma: no header
             {"00:22:72-00:00:01", "\"00:22:72-00:00:01\" is not"}, {"00:22:72:00:00:0g", "is not"},
             {"00:22:72:00:00:01:02", "is not"}, {"\x1b[2J" + std::string(60, 'y'), "\"\\x1b[2J" + std::string(36, 'y') + "...\" is not"},
             {"10.0.0.1 a\n10.0.0.1 b", "hosts.txt:2: 10.0.0.1 is listed already, on line 1"},
             {"00:22:72:00:00:01\n00-22-72-00-00-01", "hosts.txt:2: 00:22:72:00:00:01 is listed already"},
             {"10.0.0.1 " + tooLong, "hosts.txt:1: the label is longer than 100 bytes"},
             {tooMany, "hosts.txt:10001: more than 10000 devices"},
             {"\xff\xfe" "1", "hosts.txt: it is UTF-16 text; save it as UTF-8"}}) {
        EXPECT_NE(parsed(text).find(error), std::string::npos) << parsed(text);
    }
    EXPECT_EQ(parsed("10.0.0.1 " + tooLong.substr(1) + "\n#\n"), "10.0.0.1|" + tooLong.substr(1) + ';');
    EXPECT_EQ(std::ranges::count(parsed(tooMany.substr(tooMany.find('\n') + 1)), ';'), 10'000);  // as many fit
    try {
        readKnownDevices("/nonexistent/hosts.txt");
        ADD_FAILURE();
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "/nonexistent/hosts.txt: error 2: No such file or directory");
    }
}

// Matched by address, or by the MAC the neighbour table gives the address; the
// table read again only for an answer that came after the last reading.
TEST(KnownDevicesTest, inventory_byAddressOrNeighbourMac_tableReadAgainOnlyForLaterAnswers_missingInOrder) {
    const auto devices = parseKnownDevices("10.0.0.1 printer\n00:22:72:00:00:02 cam\n10.0.0.9 nas\n"
                                           "02:00:00:00:00:09\n00:00:5e:00:01:01 router\n", "f");
    std::vector<Neighbour> table = {{*parseDottedAddress("10.0.0.2"), {0x00, 0x22, 0x72, 0x00, 0x00, 0x02}}};
    int reads = 0;
    Inventory known(devices, [&] { ++reads; return table; });
    const auto at = std::chrono::steady_clock::now();
    const auto label = [&](const char* address, std::chrono::steady_clock::time_point arrived) {
        const KnownDevice* device = known.answered(*parseDottedAddress(address), arrived);
        return device ? device->label : "new";
    };
    EXPECT_EQ(label("10.0.0.1", at), "printer");
    EXPECT_EQ(label("10.0.0.2", at), "cam");
    EXPECT_EQ(label("10.0.0.3", at), "new");  // arrived before the table was read: not read again
    EXPECT_EQ(reads, 1);
    // A device beyond the router: the table has only the router's own address.
    table.push_back({*parseDottedAddress("10.0.0.254"), {0x00, 0x00, 0x5e, 0x00, 0x01, 0x01}});
    EXPECT_EQ(label("10.1.0.7", std::chrono::steady_clock::now()), "new");
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(label("10.1.0.7", std::chrono::steady_clock::now()), "new");  // remembered
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(known.find(*parseDottedAddress("10.0.0.2"))->label, "cam");
    EXPECT_EQ(known.find(*parseDottedAddress("10.1.0.7")), nullptr);
    std::string missing;
    for (const KnownDevice* device : known.missing()) missing += device->listed() + ';';
    EXPECT_EQ(missing, "10.0.0.9;02:00:00:00:00:09;00:00:5e:00:01:01;");
    EXPECT_EQ(missingSummary(known.missing()), "3 missing: nas (10.0.0.9), 02:00:00:00:00:09, router (00:00:5e:00:01:01)");
    EXPECT_EQ(missingSummary(known.missing(), 1), "3 missing: nas (10.0.0.9) and 2 more");
    const auto hostile = parseKnownDevices("10.0.0.1 a|b\x1b[2J", "f");
    const KnownDevice* one[] = {&hostile[0]};
    EXPECT_EQ(missingSummary(one), "1 missing: a\\x7cb\\x1b[2J (10.0.0.1)");  // no '|' before the performance data
}

// ---- Records ----

TEST(RecordFormatTest, appendRecord_awkwardText_rfc4180CsvAndEscapedJson_textTableAligned) {
    const Field fields[] = {{"name", "a,\"b\"\r\nc"}, {"maker", "Back\\slash"}, {"answers", "2", true}};
    std::string csv, json;
    appendRecord(csv, OutputFormat::Csv, fields, "\n");
    appendRecord(json, OutputFormat::Json, fields, "\n");
    EXPECT_EQ(csv, "\"a,\"\"b\"\"\r\nc\",Back\\slash,2\r\n");
    EXPECT_EQ(json, R"({"name":"a,\"b\"\u000d\u000ac","maker":"Back\\slash","answers":2})" "\n");
    const std::string_view names[] = {"address", "mac", "answers"};
    EXPECT_EQ(csvHeader(names), "address,mac,answers\r\n");
    // Columns by what a terminal shows: escapes, two-byte letters, wide and combining characters.
    EXPECT_EQ(alignedTable(names, {{"10.5.0.21", "", "1"}, {"10.5.0.3", "00:22:72:00:00:01", "12"},
                                   {"\x1b[2J", "ООО \"РОНЕКС\"", "3"}, {"東京", "e\xcc\x81", "4"}}, "\r\n"),
              "ADDRESS    MAC                ANSWERS\r\n10.5.0.21                     1\r\n"
              "10.5.0.3   00:22:72:00:00:01  12\r\n\\x1b[2J    ООО \"РОНЕКС\"       3\r\n"
              "東京       e\xcc\x81                  4\r\n");
}

// Names and makers come from the network and from system files: no format lets
// one start a formula, write a control character or break UTF-8.
TEST(RecordFormatTest, appendRecord_hostileText_noFormulaNoControlValidUtf8_inEveryFormat) {
    struct Case { std::string_view given, text, csv, json; };
    std::string replaced;
    for (int i = 0; i < 14; ++i) replaced += "\uFFFD";
    for (const auto& [given, text, csv, json] : std::initializer_list<Case>{
             {"=1+2", "=1+2", "\"'=1+2\"", "=1+2"}, {"+plugg srl", "+plugg srl", "\"'+plugg srl\"", "+plugg srl"},
             {"-cmd|x", "-cmd|x", "\"'-cmd|x\"", "-cmd|x"}, {"@SUM(1)", "@SUM(1)", "\"'@SUM(1)\"", "@SUM(1)"},
             {"\tx", "\\x09x", "\"'\\x09x\"", "\\u0009x"}, {"\rx", "\\x0dx", "\"'\rx\"", "\\u000dx"},
             {"a=1", "a=1", "a=1", "a=1"}, {"a;=1", "a;=1", "\"a;=1\"", "a;=1"},  // ';' splits cells in some locales
             {"a\rb", "a\\x0db", "\"a\rb\"", "a\\u000db"}, {"a\nb", "a\\x0ab", "\"a\nb\"", "a\\u000ab"},
             {"\x1b]0;t\a\x1b[2J", "\\x1b]0;t\\x07\\x1b[2J", "\"\\x1b]0;t\\x07\\x1b[2J\"", "\\u001b]0;t\\u0007\\u001b[2J"},
             {"\x7f\xc2\x9b\xc2\x80\xc2\x9f\xc2\xa0", "\\x7f\\u009b\\u0080\\u009f\xc2\xa0", "\\x7f\\u009b\\u0080\\u009f\xc2\xa0",
              "\\u007f\\u009b\\u0080\\u009f\xc2\xa0"},  // DEL, C1 controls, then a no-break space
             {"caf\xe9!", "caf\uFFFD!", "caf\uFFFD!", "caf\uFFFD!"},
             // A right-to-left override and an isolate, which would show the rest of the line reordered.
             {"\xe2\x80\xaegnp.exe\xe2\x81\xa6", "\\u202egnp.exe\\u2066", "\\u202egnp.exe\\u2066", "\\u202egnp.exe\\u2066"},
             // Overlong twice, a surrogate, past U+10FFFF, cut short: a U+FFFD for each byte.
             {"\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82", replaced, replaced, replaced},
             {"ООО \xf0\x9f\x93\xb7 \xef\xbf\xbd", "ООО \xf0\x9f\x93\xb7 \xef\xbf\xbd", "ООО \xf0\x9f\x93\xb7 \xef\xbf\xbd",
              "ООО \xf0\x9f\x93\xb7 \xef\xbf\xbd"}}) {
        const Field fields[] = {{"name", std::string(given)}, {"answers", "-1", true}};
        std::string shown[3];
        for (const auto format : {OutputFormat::Text, OutputFormat::Csv, OutputFormat::Json})
            appendRecord(shown[static_cast<int>(format)], format, fields, "\n");
        EXPECT_EQ(shown[static_cast<int>(OutputFormat::Text)], std::string(text) + " -1\n") << given;
        EXPECT_EQ(shown[static_cast<int>(OutputFormat::Csv)], std::string(csv) + ",-1\r\n") << given;
        EXPECT_EQ(shown[static_cast<int>(OutputFormat::Json)], R"({"name":")" + std::string(json) + R"(","answers":-1})" "\n") << given;
    }
    EXPECT_EQ(visibleText(std::string_view("caf\xc3\xa9").substr(0, 4)), "caf\uFFFD");  // a view that ends inside a letter
}

TEST(RecordFormatTest, utcTimestamp_anyInstant_isoSecondsInUtc) {
    using std::chrono::sys_days, std::chrono::year;
    EXPECT_EQ(utcTimestamp(sys_days{year{2026} / 12 / 7} + seconds(16 * 3600 + 40 * 60 + 1) + std::chrono::milliseconds(999)),
              "2026-12-07T16:40:01Z");
    EXPECT_EQ(utcTimestamp(sys_days{year{2028} / 2 / 29} - seconds(1)), "2028-02-28T23:59:59Z");
    EXPECT_EQ(utcTimestamp({}), "1970-01-01T00:00:00Z");
}

// ---- The console on Windows ----

// Only a console of its own, shown, with the keyboard as standard input: a
// double-click. A shell shares the console; a scheduled task's is hidden; a
// pipe or file is no keyboard.
TEST(ConsolePauseTest, pausesBeforeClosing_onlyAloneVisibleAndReadingKeys) {
    EXPECT_TRUE(pausesBeforeClosing({.processesOnConsole = 1, .windowVisible = true, .inputIsConsole = true}));
    for (const ConsoleFacts& facts : {ConsoleFacts{.processesOnConsole = 2, .windowVisible = true, .inputIsConsole = true},
                                      ConsoleFacts{.processesOnConsole = 0, .windowVisible = true, .inputIsConsole = true},
                                      ConsoleFacts{.processesOnConsole = 1, .windowVisible = false, .inputIsConsole = true},
                                      ConsoleFacts{.processesOnConsole = 1, .windowVisible = true, .inputIsConsole = false}}) {
        EXPECT_FALSE(pausesBeforeClosing(facts)) << facts.processesOnConsole << facts.windowVisible << facts.inputIsConsole;
    }
}

// ---- Prometheus ----

// The textfile format: HELP and TYPE for each family, labels escaped after
// untrusted text is made visible, seconds with milliseconds.
TEST(PrometheusTextTest, prometheusText_devicesAndCounters_everyFamilyWithHelpAndType_labelsEscapedAndVisible) {
    PrometheusSnapshot snapshot{{{"10.0.0.2", "eth0", "hall \\ \"A\"\nB", true}, {"10.0.0.10", "br\x1b[2J", "caf\xe9", false}},
                                12, 3, 4, std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'000'000'042))};
    const std::string text = prometheusText(snapshot);
    std::string samples, families;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const auto line = text.substr(at, end - at);
        if (line.starts_with("# TYPE ")) families += line + '\n';
        else if (!line.starts_with("# HELP ")) samples += line + '\n';
    }
    EXPECT_EQ(families, "# TYPE zorvik_devices gauge\n# TYPE zorvik_device_up gauge\n# TYPE zorvik_answers_total counter\n"
                        "# TYPE zorvik_dropped_total counter\n# TYPE zorvik_last_round_timestamp_seconds gauge\n");
    EXPECT_EQ(samples, "zorvik_devices 1\n"
                       R"(zorvik_device_up{address="10.0.0.2",interface="eth0",label="hall \\ \"A\"\\x0aB"} 1)" "\n"
                       R"(zorvik_device_up{address="10.0.0.10",interface="br\\x1b[2J",label="caf)" "\uFFFD" R"("} 0)" "\n"
                       "zorvik_answers_total 12\nzorvik_dropped_total{by=\"system\"} 3\nzorvik_dropped_total{by=\"program\"} 4\n"
                       "zorvik_last_round_timestamp_seconds 1765000000.042\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 17);  // five HELP lines, nothing else
    EXPECT_EQ(parse({"--prometheus", ""}).text.substr(0, 49), "zorvik-discover: --prometheus: the value is empty");
}

// ---- The watch ----

TEST(DeviceWatchTest, thousandRoundsOnAClockSeam_goneAfterMissedRoundsAppearedOnReturn_spoofedFloodCappedMemoryFlat) {
    std::chrono::sys_seconds now = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours(16);
    DeviceWatch watch(20, [&] { return now; }, 4096);
    const auto address = [](std::uint32_t n) { return *parseDottedAddress("10." + std::to_string(n >> 16 & 255) + '.' +
                                                  std::to_string(n >> 8 & 255) + '.' + std::to_string(n & 255)); };
    std::uint32_t spoofed = 1 << 20;  // each round 300 addresses never heard again: 6,000 in 20 rounds
    std::size_t heapAtRound100 = 0, mostPresent = 0;
    std::vector<std::string> seen;  // the real devices' events (10.0.0.N), and any event at the wrong time
    for (int round = 1; round <= 1000; ++round) {
        for (std::uint32_t device = 1; device <= 10; ++device) {
            if (device != 2 || round < 400 || round > 460) watch.answered(address(device));  // 2 is off 61 rounds
        }
        for (int i = 0; i < 300; ++i) watch.answered(address(spoofed++));
        now += seconds(10);
        for (const auto& event : watch.endRound()) {
            const auto kind = event.kind == WatchEvent::Kind::Gone ? " gone " : " appeared ";
            if (event.time != now) seen.push_back("wrong time in round " + std::to_string(round));
            if (dottedAddress(event.address).starts_with("10.0.0."))
                seen.push_back(std::to_string(round) + kind + dottedAddress(event.address));
        }
        mostPresent = std::max(mostPresent, watch.present());
        if (round == 100) heapAtRound100 = heapInUse();
    }
    std::vector<std::string> expected;
    for (int device = 1; device <= 10; ++device) expected.push_back("1 appeared 10.0.0." + std::to_string(device));
    // The flood's silent addresses make every other round lost, so 20 missed
    // rounds take 40, and 2 waits a round for a place in the full table.
    expected.insert(expected.end(), {"439 gone 10.0.0.2", "462 appeared 10.0.0.2"});
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(watch.overflowed() && mostPresent == 4096) << mostPresent;
    EXPECT_LT(heapInUse(), heapAtRound100 + (64 << 10)) << heapAtRound100;
    DeviceWatch flooded(2, [&] { return now; });  // by default, 65,536
    for (std::uint32_t i = 0; i <= kMaxDevices; ++i) flooded.answered(address(i));
    EXPECT_TRUE(flooded.endRound().size() == kMaxDevices && flooded.overflowed());
}

// One device, round by round: 'x' answered, '.' missed.
TEST(DeviceWatchTest, roundsAnsweredOrMissed_goneOnlyAfterMissingRoundsInARow_appearedOnEachReturn) {
    struct Case { std::int32_t missing; std::string rounds; const char* events; };
    std::string oneInFive;
    for (int i = 0; i < 40; ++i) oneInFive += "xxxx.";
    for (const auto& [missing, rounds, events] : std::initializer_list<Case>{
             {3, oneInFive, "1 appeared;"}, {3, "x..x..x...x", "1 appeared;10 gone;11 appeared;"},
             {1, "x.x", "1 appeared;2 gone;3 appeared;"}, {2, ".x.x..", "2 appeared;6 gone;"}}) {
        DeviceWatch watch(missing, [] { return std::chrono::system_clock::time_point{}; });
        std::string seen;
        for (std::size_t round = 0; round < rounds.size(); ++round) {
            if (rounds[round] == 'x') watch.answered(0x0100000a);
            for (const auto& event : watch.endRound())
                seen += std::to_string(round + 1) + (event.kind == WatchEvent::Kind::Gone ? " gone;" : " appeared;");
        }
        EXPECT_EQ(seen, events) << missing << ' ' << rounds.substr(0, 20);
    }
}

// A fleet, round by round: the letters of the devices that answered, a for
// 10.0.0.1. Of the devices present before a round, more than half and at least
// 3 silent is a round lost: one event, and no one's missed rounds advance; the
// round after a lost one counts as any other.
TEST(DeviceWatchTest, fleetRounds_mostPresentSilentAtOnce_oneRoundLostMissedKept_elseGoneEach) {
    struct Case { std::int32_t missing; std::vector<std::string> rounds; const char* events; };
    for (const auto& [missing, rounds, events] : std::initializer_list<Case>{
             {1, {"abcd", "a", "abcd"}, "1 appeared a;1 appeared b;1 appeared c;1 appeared d;2 round lost;"},
             {1, {"abcd", "ab"}, "1 appeared a;1 appeared b;1 appeared c;1 appeared d;2 gone c;2 gone d;"},
             {1, {"ab", ""}, "1 appeared a;1 appeared b;2 gone a;2 gone b;"},
             {1, {"abcdef", "abc"}, "1 appeared a;1 appeared b;1 appeared c;1 appeared d;1 appeared e;1 appeared f;"
                                    "2 gone d;2 gone e;2 gone f;"},
             {2, {"abc", "", "ab", "ab"}, "1 appeared a;1 appeared b;1 appeared c;2 round lost;4 gone c;"},
             {1, {"abc", "", ""}, "1 appeared a;1 appeared b;1 appeared c;2 round lost;3 gone a;3 gone b;3 gone c;"},
             {1, {"abcd", "aefg"}, "1 appeared a;1 appeared b;1 appeared c;1 appeared d;2 appeared e;2 appeared f;"
                                   "2 appeared g;2 round lost;"}}) {
        DeviceWatch watch(missing, [] { return std::chrono::system_clock::time_point{}; });
        std::string seen;
        for (std::size_t round = 0; round < rounds.size(); ++round) {
            for (const char device : rounds[round]) watch.answered(*parseDottedAddress("10.0.0." + std::to_string(device - 'a' + 1)));
            for (const auto& event : watch.endRound()) {
                seen += std::to_string(round + 1) + (event.kind == WatchEvent::Kind::Gone       ? " gone "
                                                     : event.kind == WatchEvent::Kind::Appeared ? " appeared "
                                                                                                : " round lost");
                if (event.kind != WatchEvent::Kind::RoundLost) seen += static_cast<char>('a' + dottedAddress(event.address).back() - '1');
                seen += ';';
            }
        }
        EXPECT_EQ(seen, events) << rounds[1];
    }
}

// --details names the interface of a device's first answer; 0 when not known.
TEST(DeviceTallyTest, add_sameAddressByAnotherInterface_countedKeepingTheFirstAnswersInterface) {
    DeviceTally tally;
    tally.add(1, 0, 2), tally.add(5), tally.add(1, 1, 3);
    const auto& devices = tally.devices();
    EXPECT_TRUE(devices.size() == 2 && devices[0].answers == 2 && devices[0].probes == 3 && devices[0].interfaceIndex == 2 &&
                devices[1].interfaceIndex == 0);
}

// ---- The program, on fakes: answers and the timer's periods come when the test says ----

struct FakeTimer final : TimerControl {
    void start(std::int32_t) override {}
    void cancel() override {}
};

struct NoOption final : StartupSocketOption {
    bool apply(std::int32_t) noexcept override { return true; }
};

struct Twin {
    explicit Twin(TwinOptions options, std::optional<Inventory> known = std::nullopt)
        : program(options, {endpoint, timer, option}, console, [](const Failure&) {}, std::move(known)) {}
    // One answer, reported once the receive thread has taken it and woken the loop.
    void answer(const char* from, std::uint16_t port = protocol::kPort, const char* payload = "ZV", std::uint32_t by = 0) {
        socket->give({{*parseDottedAddress(from), swapPortOrder(port), payload, {}, by}});
        using Clock = std::chrono::steady_clock;
        for (const auto end = Clock::now() + seconds(10); !waker->due && Clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        ASSERT_TRUE(waker->due);
        waker->answer();
    }
    // Each line's event and address, without its time.
    std::string events() const {
        std::string lines;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            lines += out.substr(at, end - at).substr(21) + ';';
        return lines;
    }
    std::string out, lookedUp;  // the indexes whose interface names were looked up
    testing::ScriptedSocket* socket = new testing::ScriptedSocket;
    testing::TestWaker* waker = new testing::TestWaker;
    UdpEndpoint endpoint{{std::unique_ptr<DatagramSocket>(socket), std::unique_ptr<UiWaker>(waker), nullptr}};
    FakeTimer timer;
    NoOption option;
    TwinConsole console = [this] {
        TwinConsole to;
        to.output = [this](std::string_view text) { out += text; };
        to.error = [](std::string_view) {};
        to.leaveEventLoop = [](int) {};
        to.interfaceName = [this](std::uint32_t index) {
            lookedUp += std::to_string(index) + ';';
            return std::string(index == 2 ? "eth0" : index == 3 ? "=wlan\x1b" : "");
        };
        return to;
    }();
    TwinProgram program;
};

TEST(TwinProgramTest, watch_answerAfterTheRoundEnded_countsForNoRound) {
    TwinOptions options;
    options.watch = true;
    options.missingRounds = 1;
    Twin twin(options);
    ASSERT_TRUE(twin.program.start());
    twin.answer("10.0.0.1");
    twin.program.periodOver();  // the wait of round 1 is over
    twin.answer("10.0.0.1");  // late, before round 2 begins
    twin.program.periodOver();
    twin.program.periodOver();  // round 2, with no answer in its wait
    EXPECT_EQ(twin.events(), "appeared 10.0.0.1;gone 10.0.0.1;");
}

// Three of four devices silent in a round: probed once more before anything
// counts as missed; back then, nothing is said; silent again, one round lost.
TEST(TwinProgramTest, watchRoundMostlySilent_probedAgainOnce_backSaysNothing_stillSilentOneRoundLost) {
    for (const char* format : {"text", "json", "csv"}) {
        Twin twin(parse({"--watch", "--missing", "1", "--format", format}).options);
        ASSERT_TRUE(twin.program.start());
        const auto fleet = [&] { for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}) twin.answer(a); };
        fleet();
        twin.program.periodOver(), twin.program.periodOver();  // round 1 over; round 2 probes
        twin.answer("10.0.0.1");
        twin.program.periodOver();  // three silent: probed again
        EXPECT_EQ(twin.socket->sends, 3);
        fleet();
        twin.program.periodOver(), twin.program.periodOver(), twin.program.periodOver();  // round 3 silent, probed again
        EXPECT_EQ(twin.socket->sends, 5);
        twin.answer("10.0.0.1");
        twin.program.periodOver();
        const std::string out = std::regex_replace(twin.out, std::regex("20[0-9-]{8}T[0-9:]{8}Z"), "T");
        const std::string tail = out.substr(out.rfind("10.0.0.4") + 8);
        EXPECT_EQ(tail, std::string(format) == "text" ? "\nT round lost\n" : std::string(format) == "json"
                  ? "\"}\n" R"({"time":"T","event":"round lost","address":""})" "\n" : "\r\nT,round lost,\r\n") << out;
    }
}

// Three answers in each mode: what is listed is made from the arrivals, the
// window's lines shown as they are; "ms" counts from the probe; each record
// names its interface, made safe, each name looked up once.
TEST(TwinProgramTest, threeAnswersInEachMode_linesRecordsOrCount_fromTheArrivals) {
    struct Case { std::vector<const char*> args; const char* out; };
    for (const auto& [args, expected] : std::initializer_list<Case>{
             {{}, "Zorvy found at address: 10.0.0.1\nZorvy found at address: 10.0.0.1\nZorvy found at address: 10.0.0.2\n"},
             {{"-u"}, "Zorvy found at address: 10.0.0.1\nZorvy found at address: 10.0.0.2\n"},
             {{"-j"}, R"({"address":"10.0.0.1","interface":"eth0","port":4567,"bytes":2,"ms":M})" "\n"
                      R"({"address":"10.0.0.1","interface":"=wlan\u001b","port":4567,"bytes":2,"ms":M})" "\n"
                      R"({"address":"10.0.0.2","interface":"eth0","port":9,"bytes":5,"ms":M})" "\n"},
             {{"-u", "--format", "csv"}, "address,interface,port,bytes,ms\r\n10.0.0.1,eth0,4567,2,M\r\n10.0.0.2,eth0,9,5,M\r\n"},
             {{"--count"}, "2\n"}, {{"--count", "-j"}, "{\"devices\":2}\n"}, {{"--count", "--format", "csv"}, "devices\r\n2\r\n"},
             {{"-q"}, ""}, {{"--watch", "--format", "csv"}, "time,event,address\r\n"},
             {{"--check", "--warning", "3:", "-j"}, "ZORVIK WARNING - 2 devices|devices=2;3:;;0; dropped=0c\n"}}) {
        const TwinOptions options = parse(args).options;
        Twin twin(options);
        ASSERT_TRUE(twin.program.start());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        twin.answer("10.0.0.1", protocol::kPort, "ZV", 2), twin.answer("10.0.0.1", protocol::kPort, "ZV", 3);
        twin.answer("10.0.0.2", 9, "hello", 2);
        if (!options.watch) twin.program.periodOver();  // the wait is over
        std::string out = twin.out;
        static const std::regex ms(R"(("ms":|,)(\d+)(\}?\r?\n))");
        for (std::smatch at; std::regex_search(out, at, ms);) {
            EXPECT_GE(std::stoi(at[2]), 20) << out;
            out.replace(static_cast<std::size_t>(at.position(2)), static_cast<std::size_t>(at.length(2)), "M");
        }
        EXPECT_EQ(out, expected) << (args.empty() ? "" : args[0]);
        const auto shown = shownBy(options);
        EXPECT_EQ(twin.lookedUp, shown == Shown::Records ? "2;3;" : shown == Shown::FirstRecords ? "2;" : "") << out;
        // A watch is not over; the check warns.
        EXPECT_EQ(twin.program.status(), options.watch ? kFailureStatus : options.check ? 1 : kFoundStatus);
    }
}

// An inventory: a printer by address, a camera by the MAC the table gives
// 10.0.0.2, a NAS that never answers; 10.0.0.3 is new.
TEST(TwinProgramTest, knownDevices_markedKnownOrNew_missingListedInEachMode_status0Or1Or3) {
    const auto devices = parseKnownDevices("10.0.0.1 =printer\x1b\n00:22:72:00:00:02 cam\n10.0.0.9 nas|x\a\n", "f");
    struct Case { std::vector<const char*> args; std::vector<const char*> from; const char* out; int status; };
    for (const auto& [args, from, expected, status] : std::initializer_list<Case>{
             {{}, {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
              "Zorvy found at address: 10.0.0.1 (known: =printer\\x1b)\nZorvy found at address: 10.0.0.2 (known: cam)\n"
              "Zorvy found at address: 10.0.0.3 (new)\nMissing: 10.0.0.9 (known: nas|x\\x07)\n", kMissingStatus},
             {{"-u", "--format", "csv"}, {"10.0.0.3", "10.0.0.3"},
              "address,interface,port,bytes,ms,status,label\r\n10.0.0.3,,4567,2,M,new,\r\n10.0.0.1,,,,,missing,\"'=printer\\x1b\"\r\n"
              "00:22:72:00:00:02,,,,,missing,cam\r\n10.0.0.9,,,,,missing,nas|x\\x07\r\n", kMissingStatus},
             {{"-j"}, {"10.0.0.1", "10.0.0.2", "10.0.0.9"},
              R"({"address":"10.0.0.1","interface":"","port":4567,"bytes":2,"ms":M,"status":"known","label":"=printer\u001b"})" "\n"
              R"({"address":"10.0.0.2","interface":"","port":4567,"bytes":2,"ms":M,"status":"known","label":"cam"})" "\n"
              R"({"address":"10.0.0.9","interface":"","port":4567,"bytes":2,"ms":M,"status":"known","label":"nas|x\u0007"})" "\n", kFoundStatus},
             {{"-j"}, {}, R"({"address":"10.0.0.1","status":"missing","label":"=printer\u001b"})" "\n"
                          R"({"address":"00:22:72:00:00:02","status":"missing","label":"cam"})" "\n"
                          R"({"address":"10.0.0.9","status":"missing","label":"nas|x\u0007"})" "\n", kNoneFoundStatus},
             {{"--details", "--format", "csv"}, {"10.0.0.2", "10.0.0.3"},
              "address,interface,mac,maker,name,answers,status,label\r\n10.0.0.2,,,,,1,known,cam\r\n10.0.0.3,,,,,1,new,\r\n"
              "10.0.0.1,,,,,0,missing,\"'=printer\\x1b\"\r\n10.0.0.9,,,,,0,missing,nas|x\\x07\r\n", kMissingStatus},
             {{"--details", "--probes", "2", "--format", "csv"}, {"10.0.0.2"},
              "address,interface,mac,maker,name,answers,probes,status,label\r\n10.0.0.2,,,,,1,1,known,cam\r\n"
              "10.0.0.1,,,,,0,0,missing,\"'=printer\\x1b\"\r\n10.0.0.9,,,,,0,0,missing,nas|x\\x07\r\n", kMissingStatus},
             {{"--count"}, {"10.0.0.1"}, "1\n", kMissingStatus}, {{"-q"}, {"10.0.0.1", "10.0.0.2", "10.0.0.9"}, "", kFoundStatus},
             {{"--check", "--warning", "5:"}, {"10.0.0.1"},
              "ZORVIK CRITICAL - 1 device, 2 missing: cam (00:22:72:00:00:02), nas\\x7cx\\x07 (10.0.0.9)|devices=1;5:;;0; "
              "dropped=0c missing=2;;0;0;3\n", 2},
             {{"--check", "--warning", "5:"}, {"10.0.0.1", "10.0.0.2", "10.0.0.9"},
              "ZORVIK WARNING - 3 devices|devices=3;5:;;0; dropped=0c missing=0;;0;0;3\n", 1}}) {
        const TwinOptions options = parse(args).options;
        // The details read the real table, where 10.0.0.2 has no MAC.
        Twin twin(options, Inventory(devices, [] {
            return std::vector<Neighbour>{{*parseDottedAddress("10.0.0.2"), {0x00, 0x22, 0x72, 0x00, 0x00, 0x02}}};
        }));
        ASSERT_TRUE(twin.program.start());
        for (const char* address : from) twin.answer(address);
        for (int period = 0; period < options.probes; ++period) twin.program.periodOver();  // the rest of the probes, the wait
        const std::string out = std::regex_replace(std::regex_replace(twin.out, std::regex(R"(("ms":)\d+)"), "$1M"),
                                                   std::regex(R"((,\d+,\d+,)\d+(,(known|new),))"), "$1M$2");
        EXPECT_EQ(out, expected) << args.size();
        EXPECT_EQ(twin.program.status(), status) << out;
    }
}

// Watching: labels in the events, and a known device silent in the first
// round gone at its end, once; the labelled one comes and goes as any other.
TEST(TwinProgramTest, knownDevicesWatched_labelsInEvents_silentInTheFirstRoundGoneOnce) {
    TwinOptions options = parse({"--watch", "--missing", "1", "--format", "csv"}).options;
    Twin twin(options, Inventory(parseKnownDevices("10.0.0.1 printer\n10.0.0.9 nas\n", "f"), [] { return std::vector<Neighbour>{}; }));
    ASSERT_TRUE(twin.program.start());
    twin.answer("10.0.0.1"), twin.answer("10.0.0.3");
    for (int period = 0; period < 2 * 3; ++period) twin.program.periodOver();  // three rounds ended, the last two silent
    const std::string out = std::regex_replace(twin.out, std::regex("\\d{4}-\\d\\d-\\d\\dT[\\d:]{8}Z"), "T");
    EXPECT_EQ(out, "time,event,address,label\r\nT,appeared,10.0.0.1,printer\r\nT,appeared,10.0.0.3,\r\n"
                   "T,gone,10.0.0.9,nas\r\nT,gone,10.0.0.1,printer\r\nT,gone,10.0.0.3,\r\n");
}

// The Prometheus file after each wait, also when quiet: a device that missed a
// round is down, one gone is no longer listed; answers count from the start.
TEST(TwinProgramTest, prometheusFile_eachRoundOfAQuietWatchOrAtTheEnd_devicesUpDownOrGoneAnswersSinceStart) {
    const auto file = (std::filesystem::temp_directory_path() / ("twin_test." + std::to_string(::getpid()) + ".prom")).string();
    const auto samples = [&] {
        std::ostringstream text;
        text << std::ifstream(file).rdbuf();
        std::string lines;
        std::istringstream in(text.str());
        for (std::string line; std::getline(in, line);)
            if (!line.starts_with('#') && !line.starts_with("zorvik_last") && !line.starts_with("zorvik_dropped"))
                lines += line.substr(line.starts_with("zorvik_device_up") ? 26 : 7) + ';';
        return lines;
    };
    Twin watch(parse({"--watch", "-q", "--prometheus", file.c_str()}).options);
    ASSERT_TRUE(watch.program.start());
    std::vector<std::string> rounds;
    for (const auto& answering : std::vector<std::vector<const char*>>{{"10.0.0.2", "10.0.0.10", "10.0.0.2"}, {"10.0.0.10"}, {"10.0.0.10"}}) {
        for (const char* from : answering) watch.answer(from, protocol::kPort, "ZV", 2);
        watch.program.periodOver();  // the wait is over
        rounds.push_back(samples());
        watch.program.periodOver();  // the next round
    }
    EXPECT_EQ(rounds, (std::vector<std::string>{
                          R"(devices 2;10.0.0.2",interface="eth0",label=""} 1;10.0.0.10",interface="eth0",label=""} 1;answers_total 3;)",
                          R"(devices 1;10.0.0.2",interface="eth0",label=""} 0;10.0.0.10",interface="eth0",label=""} 1;answers_total 4;)",
                          R"(devices 1;10.0.0.10",interface="eth0",label=""} 1;answers_total 5;)"}));
    EXPECT_EQ(watch.out, "");
    // With an inventory, labels, and a known device that never answered down.
    Twin once(parse({"--prometheus", file.c_str()}).options,
              Inventory(parseKnownDevices("10.0.0.3 cam\n10.0.0.9 nas\n", "f"), [] { return std::vector<Neighbour>{}; }));
    ASSERT_TRUE(once.program.start());
    once.answer("10.0.0.3", protocol::kPort, "ZV", 3), once.answer("10.0.0.3");
    once.program.periodOver();
    EXPECT_EQ(samples(), R"(devices 1;10.0.0.3",interface="=wlan\\x1b",label="cam"} 1;10.0.0.9",interface="",label="nas"} 0;answers_total 2;)");
    EXPECT_EQ(once.out, "Zorvy found at address: 10.0.0.3 (known: cam)\nZorvy found at address: 10.0.0.3 (known: cam)\n"
                        "Missing: 10.0.0.9 (known: nas)\n");
    std::filesystem::remove(file);
    Twin failing(parse({"--prometheus", (file + ".d/z.prom").c_str()}).options);
    ASSERT_TRUE(failing.program.start());
    failing.program.periodOver();
    EXPECT_EQ(failing.program.status(), kFailureStatus);
}

}  // namespace
}  // namespace zorvik
