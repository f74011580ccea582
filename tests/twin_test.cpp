// The twin's own parts without a network: its options, its records and its
// watch, whose clock is a seam so that 1,000 rounds take no real time.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "alert_range.hpp"
#include "destination.hpp"
#include "device_tally.hpp"
#include "device_watch.hpp"
#include "endpoint_fakes.hpp"
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
            if (device != 2 || round < 400 || round > 430) watch.answered(address(device));  // 2 is off 31 rounds
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
    expected.insert(expected.end(), {"419 gone 10.0.0.2", "431 appeared 10.0.0.2"});
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

// --details names the interface of a device's first answer; 0 when not known.
TEST(DeviceTallyTest, add_sameAddressByAnotherInterface_countedKeepingTheFirstAnswersInterface) {
    DeviceTally tally;
    tally.add(1, 2), tally.add(5), tally.add(1, 3);
    const auto& devices = tally.devices();
    EXPECT_TRUE(devices.size() == 2 && devices[0].answers == 2 && devices[0].interfaceIndex == 2 &&
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
    explicit Twin(TwinOptions options) : program(options, {endpoint, timer, option}, console, [](const Failure&) {}) {}
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
             {{"--count"}, "2\n"}, {{"-q"}, ""}, {{"--watch", "--format", "csv"}, "time,event,address\r\n"},
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

}  // namespace
}  // namespace zorvik
