// The command-line programs as built, zorvik-device-sim and zorvik-discover,
// inside scripts/lan's private network namespace: they send to the group.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "console_results.hpp"
#include "failure.hpp"
#include "process.hpp"
#include "protocol.hpp"
#include "scripted_calls.hpp"
#include "standard_streams.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::bin, testing::inBin, testing::onStockKernel, testing::Process, testing::startDevices;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds, std::chrono::seconds;

class ProgramTest : public ::testing::Test {
protected:
    testing::UdpPeer prober;  // constructed first: it makes sure this runs inside scripts/lan
    void probe(std::string_view bytes = protocol::kProbe) { prober.sendTo(protocol::kPort, bytes, protocol::kGroup.data()); }
};

// ---- The simulator ----

TEST_F(ProgramTest, simProbes_answeredFromEachHostAsAsked_othersIgnored_unreachableProberSkipped) {
    const auto defaults = startDevices({"--probes", "2"});
    for (const std::string_view other :
         std::initializer_list<std::string_view>{{"ZV\0", 3}, {"ZV\0\x01!", 5}, {"ZV\0\x02", 4}, {}})
        probe(other);
    // A probe from an address no host here has a route to; a unicast one, which one listener gets.
    const int far = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
    const sockaddr_in from{AF_INET, 0, {htonl(0x0a090902)}, {}}, to{AF_INET, htons(protocol::kPort), {htonl(0x7f000001)}, {}};
    ASSERT_EQ(::setsockopt(far, SOL_IP, IP_TRANSPARENT, &on, sizeof on), 0);
    ASSERT_EQ(::bind(far, reinterpret_cast<const sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(::sendto(far, protocol::kProbe.data(), 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    ::close(far);
    const auto twice = startDevices({"--hosts", "2", "--first-address", "127.0.0.5", "--payload", "", "--answers", "2"});
    probe();
    std::vector<std::pair<std::string, std::string>> answers;  // sender and payload of each; 300 ms for more
    for (auto a = prober.receive(5000); a; a = prober.receive(answers.size() < 5 ? 5000 : 300))
        answers.emplace_back(a->from, a->payload);
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ(answers, (decltype(answers){{"127.0.0.2", "ZV"}, {"127.0.0.5", ""}, {"127.0.0.5", ""},
                                   {"127.0.0.6", ""}, {"127.0.0.6", ""}}));
    EXPECT_EQ(defaults->finish(5000), 0) << defaults->err;  // --probes 2: the far one and ours
}

TEST_F(ProgramTest, simNamespace_privateByItsInterfacesAlone_elseNoOtherInterfaceOrAddress) {
    struct Case { const char* setup; const char* args; int status; const char* said; };
    for (const auto& [setup, args, status, said] : {
             Case{"ip link add br0 type bridge && ip link set br0 up", "--interface br0", 0, "ready on br0"},
             {"ip addr add 10.9.9.1/32 dev lo", "--first-address 10.9.9.1", 0, "ready on lo"},
             {"ip tuntap add tap0 mode tap && ip addr add 10.9.9.1/24 dev tap0", "--first-address 10.9.9.1", 2, "refusing"}}) {
        // In a LAN of its own, where PID 1 is in the same network namespace: its first line, then a stop.
        Process lan(testing::lan(), QStringList{"--devices", "0", "--", "bash"} + inBin(QString("%1 && exec 3< <(exec "
            "./zorvik-device-sim %2) && read -r l <&3; echo \"$l\"; kill $!; wait $!").arg(setup, args)));
        EXPECT_TRUE(lan.finish() == status && (lan.out + lan.err).find(said) != std::string::npos) << setup << lan.out << lan.err;
    }
}

// ---- The twin ----

// What the twin says it lost: the system's count and the buffer it granted, or nothing.
struct Dropped { std::uint64_t bySystem = 0, buffer = 0; };
Dropped droppedSaid(const std::string& err) {
    static const QRegularExpression said(R"(the system dropped (\d+) \(its receive buffer held (\d+) bytes\))");
    const auto match = said.match(QString::fromStdString(err));
    return match.hasMatch() ? Dropped{match.captured(1).toULongLong(), match.captured(2).toULongLong()} : Dropped{};
}

// On a stock kernel's buffer a host may still drop some of a burst of 5,000 sent
// back to back; whatever it delivered is listed, and the rest said to be dropped.
TEST_F(ProgramTest, discover_everyAnswerListedOnceOrSaidDropped_evenTwiceFromOneHostOrEmpty_butNoOtherDatagramToTheGroup) {
    const auto many = startDevices({"--hosts", "50", "--first-address", "127.0.1.1", "--burst", "5000"});
    const auto three = startDevices({"--hosts", "3"});
    const auto twice = startDevices({"--first-address", "127.0.0.7", "--answers", "2", "--payload", ""});
    Process twin("bash", onStockKernel("./zorvik-discover"));
    // Another host probes too: its probe, answers and a stray datagram to the group are none of the twin's.
    for (const std::string_view bytes : {protocol::kProbe, std::string_view("stray")}) probe(bytes);
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    std::map<QString, int> counts, expected{{"127.0.0.2", 1}, {"127.0.0.3", 1}, {"127.0.0.4", 1}, {"127.0.0.7", 2}};
    for (int host = 1; host <= 50; ++host) expected["127.0.1." + QString::number(host)] = 100;  // the burst rotates
    std::uint64_t listed = 0;
    for (const auto& line : QString::fromStdString(twin.out).split('\n', Qt::SkipEmptyParts)) {
        const QString address = line.startsWith("Zorvy found at address: ") ? line.mid(24) : line;
        EXPECT_TRUE(expected.contains(address) && ++counts[address] <= expected[address]) << line.toStdString();
        ++listed;
    }
    const Dropped dropped = droppedSaid(twin.err);
    EXPECT_EQ(listed + dropped.bySystem, 5005u) << twin.err;
    EXPECT_TRUE(twin.err.empty() || dropped.buffer == 425984) << twin.err;
}

// Stopped while answers arrive, as a busy machine may stop it: the system drops
// what its buffer cannot hold, and the twin says how many.
TEST_F(ProgramTest, discoverPausedWhileAnswersArrive_listsTheRest_andSaysHowManyTheSystemDropped) {
    testing::UdpPeer device(protocol::kGroup.data(), protocol::kPort);
    Process twin("bash", onStockKernel("./zorvik-discover -w 2000"));
    const auto seen = device.receive(5000);
    ASSERT_TRUE(seen);
    ::kill(static_cast<pid_t>(twin.processId()), SIGSTOP);
    for (int i = 0; i < 3000; ++i) device.sendTo(seen->fromPort, "ZV");
    ::kill(static_cast<pid_t>(twin.processId()), SIGCONT);
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    const Dropped dropped = droppedSaid(twin.err);
    EXPECT_GT(dropped.bySystem, 0u) << twin.err;
    EXPECT_EQ(std::ranges::count(twin.out, '\n') + dropped.bySystem, 3000u) << twin.err;
    EXPECT_TRUE(twin.err.ends_with("and this program dropped 0 at its limit of 131072 answers or 64 MiB waiting; "
                                   "see RECEIVE BUFFER in zorvik-discover(1)\n")) << twin.err;
}

TEST_F(ProgramTest, discoverJsonUniqueWait_oneParsedObjectForAHostAnsweringTwice_endsAfterTheWait) {
    testing::UdpPeer device(protocol::kGroup.data(), protocol::kPort);  // answers twice from 127.0.0.1:4567
    const auto start = Clock::now();
    Process twin(bin("zorvik-discover"), {"--json", "-u", "--wait", "1000"});
    const auto seen = device.receive(5000);
    ASSERT_TRUE(seen);
    for (const std::string_view payload : {"hello", ""}) device.sendTo(seen->fromPort, payload);
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    const auto took = Clock::now() - start;
    EXPECT_TRUE(took > milliseconds(1000) && took < milliseconds(2500));
    QJsonParseError error;
    const auto object = QJsonDocument::fromJson(QByteArray::fromStdString(twin.out), &error).object();
    ASSERT_TRUE(error.error == QJsonParseError::NoError && std::ranges::count(twin.out, '\n') == 1) << twin.out;
    EXPECT_EQ(object.keys(), (QStringList{"address", "bytes", "interface", "ms", "port"}));
    EXPECT_TRUE(object["address"] == "127.0.0.1" && object["interface"] == "lo" && object["bytes"] == 5 &&
                object["port"] == protocol::kPort && object["ms"].isDouble() && object["ms"].toInt(-1) >= 0 && object["ms"].toInt() < 1000) << twin.out;
}

TEST_F(ProgramTest, discoverInterfaces_namedOrAll_probeOnlyThoseSegmentsOnce_elseTheRoutes_unusableNamed) {
    // Two segments beside loopback (as Ethernet and Wi-Fi), each with a device; br3 is down, br4 has no IPv4.
    const QString script = "for n in 1 2; do ip link add br$n type bridge && ip addr add 10.$n.0.1/24 dev br$n && "
        "ip addr add 10.$n.0.2/32 dev br$n && ip link set br$n up && exec {d}< <(exec ./zorvik-device-sim "
        "--interface br$n --first-address 10.$n.0.2 2>&1) && read -r l <&$d; done; ip link add br3 type bridge && "
        "ip addr add 10.3.0.1/24 dev br3 && ip link add br4 type bridge && ip link set br4 up && "
        "for a in '' '-i br1' '-i 10.2.0.1' '-av' '-i br2 -i br1 -i 10.2.0.1 --details --format csv' '-i nosuch' '-i br3' "
        "'-i br4' '-i 0.0.0.0'; do out=$(./zorvik-discover -w 500 $a 2>&1); s=$?; "
        "echo \"$a|$s|$(sort <<<\"${out//$'\\r'}\" | tr '\\n' ';')\"; done";
    Process lan(testing::lan(), QStringList{"--devices", "2", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(), 0) << lan.err;
    const std::string found = "Zorvy found at address: ";
    EXPECT_EQ(lan.out, "|0|" + found + "127.0.0.2;" + found + "127.0.0.3;\n"
                       "-i br1|0|" + found + "10.1.0.2;\n-i 10.2.0.1|0|" + found + "10.2.0.2;\n"
                       "-av|0|" + found + "10.1.0.2;" + found + "10.2.0.2;zorvik-discover: probing by br1 (10.1.0.1), br2 (10.2.0.1);\n"
                       // Each interface once, and each answer with the one it came in by.
                       "-i br2 -i br1 -i 10.2.0.1 --details --format csv|0|10.1.0.2,br1,,,,1;10.2.0.2,br2,,,,1;"
                       "address,interface,mac,maker,name,answers;\n"
                       "-i nosuch|2|zorvik-discover: no interface 'nosuch';\n-i br3|2|zorvik-discover: interface 'br3' is down;\n"
                       "-i br4|2|zorvik-discover: interface 'br4' has no IPv4 address;\n"
                       "-i 0.0.0.0|2|zorvik-discover: 0.0.0.0 is not the address of any interface;\n");
}

TEST_F(ProgramTest, discoverFormatsAndProbes_rowsCountsOrNothing_csvReadable_hintOnlyOnATerminal) {
    // Three devices answering twice on loopback; br0 has none. The cases run at
    // once, each waiting long enough for devices that a loaded machine runs late.
    const QString script = "ip link add br0 type bridge && ip addr add 10.9.0.1/24 dev br0 && ip link set br0 up && "
        "csv='import csv, sys; rows = list(csv.reader(sys.stdin)); print(rows[0], sorted(rows[1:]))'; d=$(mktemp -d); n=0; "
        "for a in '--details' '--details --format csv' '--details -j' '--count --probes 2' '-q' '--probes 3' "
        "'--probes 3 -u' '-i br0 --count' '-i br0 -q' '-i br0 --format csv'; do (out=$(./zorvik-discover -w 3000 $a); "
        "s=$?; [[ $a == *csv* ]] && out=$(python3 -c \"$csv\" <<<\"$out\"); [[ $a == '--probes 3' ]] && out=$(wc -l <<<\"$out\"); "
        "echo \"$a|$s|$(sort <<<\"$out\" | tr '\\n' ';')\") >\"$d/$n\" & n=$((n + 1)); done; wait; "
        "for ((i = 0; i < n; i++)); do cat \"$d/$i\"; done; rm -r \"$d\"; "
        "for a in '' -q; do echo \"tty $a|$(script -qec \"./zorvik-discover -i br0 -w 200 $a\" /dev/null | tr -d '\\r')\"; done";
    Process lan(testing::lan(), QStringList{"--devices", "3", "--answers", "2", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(), 0) << lan.err;
    const std::string rows =
        "['127.0.0.2', 'lo', '', '', '', '2'], ['127.0.0.3', 'lo', '', '', '', '2'], ['127.0.0.4', 'lo', '', '', '', '2']";
    std::string json;
    for (const char* host : {"2", "3", "4"})
        json += R"({"address":"127.0.0.)" + std::string(host) + R"(","interface":"lo","mac":"","maker":"","name":"","answers":2};)";
    EXPECT_EQ(lan.out, "--details|0|127.0.0.2  lo                           2;127.0.0.3  lo                           2;"
                       "127.0.0.4  lo                           2;ADDRESS    INTERFACE  MAC  MAKER  NAME  ANSWERS;\n"
                       "--details --format csv|0|['address', 'interface', 'mac', 'maker', 'name', 'answers'] [" + rows + "];\n"
                       "--details -j|0|" + json + "\n--count --probes 2|0|3;\n-q|0|;\n--probes 3|0|18;\n"
                       "--probes 3 -u|0|Zorvy found at address: 127.0.0.2;Zorvy found at address: 127.0.0.3;"
                       "Zorvy found at address: 127.0.0.4;\n-i br0 --count|1|0;\n-i br0 -q|1|;\n"
                       "-i br0 --format csv|1|['address', 'interface', 'port', 'bytes', 'ms'] [];\n"
                       "tty |zorvik-discover: no device answered within 200 ms. If devices are known to be there, a "
                       "firewall dropping the answers to this program's port is the usual cause: see FIREWALL in man "
                       "zorvik-discover.\ntty -q|\n");
}

// For a monitoring checker: one line on standard output and its state as the
// status, the tool's own failures (a bad range, no route, no interface) UNKNOWN.
TEST_F(ProgramTest, discoverCheck_okWarningCriticalByThresholds_unknownOnAFailure_oneLineWithPerfdata) {
    const QString script = "d=$(mktemp -d); n=0; for a in '' '--warning 4: --critical 2:' '--warning 4: --critical @3:' "
        "'--critical x' '-i nosuch' 'unshare'; do (c=\"./zorvik-discover --check -w 3000 $a\"; "
        "[[ $a == unshare ]] && c='unshare --net ./zorvik-discover --check'; out=$($c 2>/dev/null); "
        "echo \"$a|$?|$out\") >\"$d/$n\" & n=$((n + 1)); done; wait; "
        "for ((i = 0; i < n; i++)); do cat \"$d/$i\"; done; rm -r \"$d\"";
    Process lan(testing::lan(), QStringList{"--devices", "3", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(), 0) << lan.err;
    EXPECT_EQ(lan.out, "|0|ZORVIK OK - 3 devices|devices=3;;;0; dropped=0c\n"
                       "--warning 4: --critical 2:|1|ZORVIK WARNING - 3 devices|devices=3;4:;2:;0; dropped=0c\n"
                       "--warning 4: --critical @3:|2|ZORVIK CRITICAL - 3 devices|devices=3;4:;@3:;0; dropped=0c\n"
                       "--critical x|3|ZORVIK UNKNOWN - --critical: 'x' is not a range: its end is not a whole number; "
                       "give [@]START:END, e.g. 10: or @0:3\n"
                       "-i nosuch|3|ZORVIK UNKNOWN - no interface 'nosuch'\n"
                       "unshare|3|ZORVIK UNKNOWN - error 101: Network is unreachable\n");
}

// The Prometheus file as its collector reads it (python3-prometheus-client's
// parser): after one wait, even quiet; and during a watch, read over and over
// as every round replaces it, whole each time, and a reader that holds the
// old one open keeps it unchanged. No temporary file is left.
TEST_F(ProgramTest, discoverPrometheus_parsedByTheClientsParser_namesTypesValues_watchNeverSeenHalfWritten) {
    const QString script = R"sh(d=$(mktemp -d); trap 'rm -r "$d"' EXIT; f=$d/z.prom
./zorvik-discover -q -w 3000 --prometheus "$f"; echo "status $?"
./zorvik-discover -q -w 100 --prometheus $'/no/\e[2J.prom'; echo "status $?"
/usr/bin/python3 - "$f" <<'PY'  # Debian's, with python3-prometheus-client
import sys, time
from prometheus_client.parser import text_string_to_metric_families as parse
for family in parse(open(sys.argv[1]).read()):
    samples = sorted((s.name, ','.join(f'{k}={v}' for k, v in sorted(s.labels.items())), s.value) for s in family.samples)
    if family.name == 'zorvik_last_round_timestamp_seconds':
        samples = 'recent' if abs(samples[0][2] - time.time()) < 60 else samples
    print(family.name, family.type, family.documentation != '', samples)
PY
rm "$f"
./zorvik-discover --watch --every 1 -w 700 -q --prometheus "$f" & w=$!
/usr/bin/python3 - "$f" <<'PY'
import os, sys, time
from prometheus_client.parser import text_string_to_metric_families as parse
def families(text):
    found = {f.name: f for f in parse(text)}
    assert len(found) == 5 and all(f.samples for f in found.values()), text
    return found['zorvik_last_round_timestamp_seconds'].samples[0].value
rounds, reads, held, deadline = set(), 0, None, time.monotonic() + 60
while len(rounds) < 5 and time.monotonic() < deadline:
    try:
        file = open(sys.argv[1], 'rb')
    except FileNotFoundError:
        continue
    text = file.read()
    rounds.add(families(text.decode()))
    reads += 1
    if held is None:
        held = (file, text, len(rounds))
    elif len(rounds) > held[2] + 1:  # two rounds later, what the held one reads again
        assert os.pread(held[0].fileno(), len(held[1]) + 1, 0) == held[1]
        held = (None, None, 1 << 30)
    if file is not held[0]:
        file.close()
print('rounds', len(rounds), 'more reads than rounds', reads > len(rounds), 'held one unchanged', held[2] == 1 << 30)
PY
kill $w; wait $w; echo "watch status $? left $(ls "$d") mode $(stat -c %a "$f")")sh";
    Process lan(testing::lan(), QStringList{"--devices", "3", "--answers", "2", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(90000), 0) << lan.err;
    EXPECT_EQ(lan.out, "status 0\nstatus 2\n"
                       "zorvik_devices gauge True [('zorvik_devices', '', 3.0)]\n"
                       "zorvik_device_up gauge True [('zorvik_device_up', 'address=127.0.0.2,interface=lo,label=', 1.0), "
                       "('zorvik_device_up', 'address=127.0.0.3,interface=lo,label=', 1.0), "
                       "('zorvik_device_up', 'address=127.0.0.4,interface=lo,label=', 1.0)]\n"
                       "zorvik_answers counter True [('zorvik_answers_total', '', 6.0)]\n"
                       "zorvik_dropped counter True [('zorvik_dropped_total', 'by=program', 0.0), "
                       "('zorvik_dropped_total', 'by=system', 0.0)]\n"
                       "zorvik_last_round_timestamp_seconds gauge True recent\n"
                       "rounds 5 more reads than rounds True held one unchanged True\n"
                       "watch status 0 left z.prom mode 644\n");
    EXPECT_EQ(lan.err, "zorvik-discover: error 2: cannot write '/no/\\x1b[2J.prom': No such file or directory\n");
}

// Names from a hosts file, makers from a maker file and an interface name, each
// chosen by an attacker: in every format each line parses, no byte is a control
// but a line end, no cell starts a formula, and invalid UTF-8 is U+FFFD.
TEST_F(ProgramTest, discoverDetailsOfHostileNamesMakersAndInterface_everyLineParses_noControlByteNoFormula) {
    const QString script = R"sh(mount --make-rprivate / && hosts=$(mktemp) && makers=$(mktemp -d) && trap 'rm -r "$makers"' EXIT &&
printf '127.0.0.1 localhost\n10.5.0.2 =1+2\n10.5.0.3 @SUM(1)\n10.5.0.4 \e]0;title\a\e[2J\n10.5.0.5 caf\xe9\n' >"$hosts" &&
printf "Registry,Assignment,Organization Name,Organization Address\r\nMA-L,000002,-2+3+cmd|' /C calc'!A0,\r\n\
MA-L,000003,+plugg srl,\r\nMA-L,000004,\e[31mred\xc2\x9b2J,\r\nMA-L,000005,@pos.com\xff,\r\n" >"$makers/oui.csv" &&
mount --bind "$hosts" /etc/hosts && rm "$hosts" && for d in /var/lib/ieee-data /usr/share/ieee-data; do [[ ! -d $d ]] || mount --bind "$makers" "$d" || exit; done &&
b=$'br\e[2J' && ip link add "$b" type bridge && ip addr add 10.5.0.1/24 dev "$b" && ip link set "$b" up &&
for i in 2 3 4 5; do ip addr add 10.5.0.$i/32 dev "$b" && ip neigh add 10.5.0.$i lladdr 00:00:0$i:00:00:01 dev "$b" nud permanent || exit; done &&
exec 3< <(exec ./zorvik-device-sim --interface "$b" --first-address 10.5.0.2 --hosts 4) && read -r l <&3 &&
for f in text csv json; do ./zorvik-discover -i "$b" -v -w 500 --details --format $f >"$makers/$f" 2>"$makers/err" || exit; done &&
python3 - "$makers" <<'PY'
import csv, json, sys
out = {f: open(sys.argv[1] + '/' + f, 'rb').read() for f in ('text', 'csv', 'json', 'err')}
for f, data in out.items():
    ends = b'\r\n' if f == 'csv' else b'\n'
    assert all(b >= 0x20 for b in data.replace(ends, b'')), (f, data)
    out[f] = data.decode('utf-8').split(ends.decode())[:-1]
rows = [r for line in out['csv'] for r in csv.reader([line], strict=True)]
assert all(len(r) == 6 for r in rows), rows
print(ascii(sorted(r[3:5] for r in rows[1:])))
print(ascii(sorted([o['maker'], o['name']] for o in map(json.loads, out['json']))))
print(ascii(sorted({r[1] for r in rows[1:]} | {json.loads(o)['interface'] for o in out['json']})))
for line in out['text'] + out['err']: print(ascii(line))
PY
mkdir "$makers/given" "$makers/none" && printf 'MA-L,000003,Given Three,\r\n' >"$makers/given/iab.csv" &&
./zorvik-discover -i "$b" -w 500 --details --format csv --maker-dir "$makers/given" | cut -d, -f1,4 | tr -d '\r' | paste -sd' ' &&
{ ./zorvik-discover --details --maker-dir "$makers/none"; echo "$?"; } 2>&1 | sed "s|$makers|M|" &&
for t in '1661630937\n' '1661630937\e[2J' ''; do printf "$t" >"$makers/.lastupdate"; [[ -n $t ]] || rm "$makers/.lastupdate"; ./zorvik-discover -V | tail -1; done)sh";
    Process lan(testing::lan(), QStringList{"--devices", "0", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(), 0) << lan.err;
    EXPECT_EQ(lan.out, R"out([["'+plugg srl", "'@SUM(1)"], ["'-2+3+cmd|' /C calc'!A0", "'=1+2"], ["'@pos.com\ufffd", 'caf\ufffd'], ['\\x1b[31mred\\u009b2J', '\\x1b]0;title\\x07\\x1b[2J']]
[['\x1b[31mred\x9b2J', '\x1b]0;title\x07\x1b[2J'], ['+plugg srl', '@SUM(1)'], ["-2+3+cmd|' /C calc'!A0", '=1+2'], ['@pos.com\ufffd', 'caf\ufffd']]
['br\x1b[2J', 'br\\x1b[2J']
'ADDRESS   INTERFACE  MAC                MAKER                   NAME                     ANSWERS'
"10.5.0.2  br\\x1b[2J  00:00:02:00:00:01  -2+3+cmd|' /C calc'!A0  =1+2                     1"
'10.5.0.3  br\\x1b[2J  00:00:03:00:00:01  +plugg srl              @SUM(1)                  1'
'10.5.0.4  br\\x1b[2J  00:00:04:00:00:01  \\x1b[31mred\\u009b2J     \\x1b]0;title\\x07\\x1b[2J  1'
'10.5.0.5  br\\x1b[2J  00:00:05:00:00:01  @pos.com\ufffd               caf\ufffd                     1'
'zorvik-discover: probing by br\\x1b[2J (10.5.0.1)'
address,maker 10.5.0.2, 10.5.0.3,Given Three 10.5.0.4, 10.5.0.5,
zorvik-discover: --maker-dir: no registry (oui.csv, mam.csv, oui36.csv or iab.csv) could be read in M/none
2
makers: ieee-data updated 2022-08-27
makers: ieee-data, updated at a time its .lastupdate does not tell
makers: none (ieee-data is not installed)
)out");
}

// An inventory on a bridge whose neighbour table gives 10.5.0.3 a MAC: a
// printer by address, a camera by MAC, a NAS that is not there, and a new one.
// The formats run at once, each waiting long enough for a loaded machine.
TEST_F(ProgramTest, discoverKnown_knownNewAndMissingInTextJsonAndCsv_status3) {
    const QString script = R"sh(ip link add br0 type bridge && ip addr add 10.5.0.1/24 dev br0 && ip link set br0 up &&
for i in 2 3 4; do ip addr add 10.5.0.$i/32 dev br0 || exit; done && ip neigh add 10.5.0.3 lladdr 00:00:03:00:00:01 dev br0 nud permanent &&
exec 3< <(exec ./zorvik-device-sim --interface br0 --first-address 10.5.0.2 --hosts 3) && read -r l <&3 &&
k=$(mktemp) && trap 'rm -f "$k" "$k".*' EXIT && printf 'address,label\n10.5.0.2,printer\n00-00-03-00-00-01,"cam, hall"\n10.5.0.9 nas\n' >"$k" &&
p=() && for f in text json csv; do (./zorvik-discover -i br0 -w 3000 --known "$k" --format $f >"$k.$f"; echo "$f $?" >"$k.$f.s") & p+=($!); done &&
wait "${p[@]}" &&
cat "$k".{text,json,csv}.s &&
python3 - "$k" <<'PY'
import csv, json, sys
out = {f: open(sys.argv[1] + '.' + f).read() for f in ('text', 'json', 'csv')}
print(sorted(out['text'].splitlines()))
print(sorted((o['address'], o['status'], o['label'], 'port' in o) for o in map(json.loads, out['json'].splitlines())))
rows = list(csv.reader(out['csv'].splitlines()))
print(rows[0], sorted((r[0], r[1], r[2] != '', r[5], r[6]) for r in rows[1:]))
PY)sh";
    Process lan(testing::lan(), QStringList{"--devices", "0", "--", "bash"} + inBin(script));
    ASSERT_EQ(lan.finish(), 0) << lan.err;
    EXPECT_EQ(lan.out, "text 3\njson 3\ncsv 3\n"
                       "['Missing: 10.5.0.9 (known: nas)', 'Zorvy found at address: 10.5.0.2 (known: printer)', "
                       "'Zorvy found at address: 10.5.0.3 (known: cam, hall)', 'Zorvy found at address: 10.5.0.4 (new)']\n"
                       "[('10.5.0.2', 'known', 'printer', True), ('10.5.0.3', 'known', 'cam, hall', True), "
                       "('10.5.0.4', 'new', '', True), ('10.5.0.9', 'missing', 'nas', False)]\n"
                       "['address', 'interface', 'port', 'bytes', 'ms', 'status', 'label'] [('10.5.0.2', 'br0', True, 'known', "
                       "'printer'), ('10.5.0.3', 'br0', True, 'known', 'cam, hall'), ('10.5.0.4', 'br0', True, 'new', ''), "
                       "('10.5.0.9', '', False, 'missing', 'nas')]\n");
}

TEST_F(ProgramTest, watch_deviceStoppedThenBack_goneThenAppearedAgain_stopSignalsEndAfterWholeLinesWithStatus0) {
    auto stopping = startDevices({"--first-address", "127.0.0.5"});
    const auto staying = startDevices({"--first-address", "127.0.0.6"});
    Process twin(bin("zorvik-discover"), {"--watch", "--every", "1", "--missing", "1", "-j"});
    std::vector<std::string> events;  // "event address", each from a whole JSON line with a UTC time
    const auto awaitEvents = [&](std::size_t count) {
        for (const auto deadline = Clock::now() + seconds(8); events.size() < count && Clock::now() < deadline;) {
            if (!twin.canReadLine() && !twin.waitForReadyRead(500)) continue;
            const auto line = QJsonDocument::fromJson(twin.readLine()).object();
            const bool timed = QRegularExpression("^20\\d\\d-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$").match(line["time"].toString()).hasMatch();
            events.push_back((timed ? "" : "untimed ") + (line["event"].toString() + ' ' + line["address"].toString()).toStdString());
        }
        return events;
    };
    EXPECT_EQ(awaitEvents(2), (std::vector<std::string>{"appeared 127.0.0.5", "appeared 127.0.0.6"}));
    stopping.reset();
    EXPECT_EQ(awaitEvents(3).back(), "gone 127.0.0.5");
    stopping = startDevices({"--first-address", "127.0.0.5"});
    EXPECT_EQ(awaitEvents(4).back(), "appeared 127.0.0.5");
    ::kill(static_cast<pid_t>(twin.processId()), SIGINT);
    EXPECT_EQ(twin.finish(3000), 0) << twin.err;
    EXPECT_TRUE(twin.out.empty() && twin.err.empty()) << twin.out << twin.err;  // no part line, no other event
    Process quiet(bin("zorvik-discover"), {"--watch", "-q"});
    ASSERT_FALSE(quiet.waitForFinished(300));
    quiet.terminate();
    EXPECT_TRUE(quiet.finish(3000) == 0 && quiet.out.empty() && quiet.err.empty()) << quiet.out << quiet.err;
}

// A fleet of three, .8 answering last, 2 s late: detail rows by address as
// numbers (.10 last), each with how many probes it answered, twice each (.8's
// answers all come after the last probe); then, watched, all three silent in
// one round are one round lost, not three gone.
TEST_F(ProgramTest, fleet_detailRowsByAddressWithProbesAnswered_watchedAllSilentAtOnce_oneRoundLostNoGone) {
    auto fleet = startDevices({"--first-address", "127.0.0.9", "--hosts", "2", "--answers", "2"});
    auto late = startDevices({"--first-address", "127.0.0.8", "--answers", "2", "--delay", "2000"});
    Process details(bin("zorvik-discover"), {"--details", "--probes", "3", "-w", "3500"});
    EXPECT_EQ(details.finish(), 0) << details.err;
    EXPECT_EQ(details.out, "ADDRESS     INTERFACE  MAC  MAKER  NAME  ANSWERS  PROBES\n127.0.0.8   lo                           6        1/3\n"
                           "127.0.0.9   lo                           6        3/3\n127.0.0.10  lo                           6        3/3\n");
    late.reset();
    late = startDevices({"--first-address", "127.0.0.8"});
    Process twin(bin("zorvik-discover"), {"--watch", "--every", "1", "--missing", "5", "--format", "csv"});
    std::string events;
    const auto awaitLines = [&](int count) {
        for (const auto deadline = Clock::now() + seconds(15); count > 0 && Clock::now() < deadline;) {
            if (!twin.canReadLine() && !twin.waitForReadyRead(500)) continue;
            events += twin.readLine().mid(21).toStdString(), --count;
        }
    };
    awaitLines(4);  // the header, then the three
    EXPECT_EQ(events, "appeared,127.0.0.8\r\nappeared,127.0.0.9\r\nappeared,127.0.0.10\r\n");
    fleet.reset(), late.reset();
    awaitLines(1);
    ::kill(static_cast<pid_t>(twin.processId()), SIGINT);
    EXPECT_EQ(twin.finish(3000), 0) << twin.err;
    EXPECT_EQ(events.substr(events.rfind("127.0.0.10") + 12) + twin.out, "round lost,\r\n") << events;
}

TEST_F(ProgramTest, discoverUnderSteadyStreamReadSlowly_endsSoonAfterItsPeriod_probeCameFromLoopback) {
    testing::UdpPeer device(protocol::kGroup.data(), protocol::kPort);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const auto start = Clock::now();
    Process twin(bin("zorvik-discover"), {}, QString("/proc/self/fd/%1").arg(out[1]));
    ::close(out[1]);
    const auto seen = device.receive(5000);
    ASSERT_TRUE(seen && seen->from == "127.0.0.1") << (seen ? seen->from : "no probe");
    // 30,000 answers a second for up to 40 s, while the output is read at ~20,000 lines a second:
    // the twin lists its backlog for a few seconds after its period (longer under ASan on a busy
    // machine), while one that waited for the stream to end would run for 40 s.
    std::jthread stream([&, port = seen->fromPort](std::stop_token stop) {
        for (auto next = Clock::now(); !stop.stop_requested() && next < start + seconds(40); std::this_thread::sleep_until(next))
            for (int i = 0; i < 300 || (next += milliseconds(10), false); ++i) device.sendTo(port, "ZV");
    });
    std::string chunk(7000, '\0');
    for (auto next = Clock::now(); ::read(out[0], chunk.data(), chunk.size()) > 0; std::this_thread::sleep_until(next))
        next += milliseconds(10);
    EXPECT_LT(Clock::now() - start, seconds(20));
    stream.request_stop();
    EXPECT_EQ(twin.finish(), 0) << twin.err;
}

TEST_F(ProgramTest, programsArgumentsOrOutput_closedFullOrExtra_statusAndMessage) {
    struct Case { const char* script; int status; const char* out; const char* err; };
    const char *usage = "Usage: zorvik-discover", *closed = "error 9: standard output is closed\n";
    for (const auto& [script, status, out, err] : {
             Case{"./zorvik-discover -V", 0, "Zorvik Discovery) 1.00", ""}, {"./zorvik-discover -h", 0, usage, ""},
             {"./zorvik-discover --bogus", 2, "", usage}, {"./zorvik-discover extra", 2, "", "not expected: extra"},
             {"./zorvik-discover --wait 0", 2, "", "--wait: 0 is out of range"}, {"./zorvik-discover -w x", 2, "", "--wait: 'x' is not a number"},
             {"./zorvik-discover --wait 3600001", 2, "", "--wait"}, {"./zorvik-discover -w 1", 1, "", ""},
             {"unshare --net ./zorvik-discover", 2, "", "zorvik-discover: error 101: Network is unreachable\n"},
             // A receive that keeps failing, once an answer comes: an error, not "none answered".
             {"exec 3< <(exec ./zorvik-device-sim) && read -r l <&3 && ZORVIK_RECEIVE_ERRNO=14 LD_PRELOAD=$PWD/libzorvik-stock-kernel.so "
              "ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 ./zorvik-discover", 2, "", "zorvik-discover: error 14: Bad address\n"},
             // The twin needs no toolkit: it loads no Qt, nor the ICU and GLib that come with it.
             {"l=$(ldd ./zorvik-discover) && grep -iE 'libqt|libicu|libglib' <<<\"$l\" >&2; [[ $l == *libc.so* ]]", 0, "", ""},
             {"./zorvik-discover >&-", 2, "", closed}, {"./zorvik-discover <&- >&-", 2, "", closed},
             {"./zorvik-discover --version >&-", 2, "", closed}, {"./zorvik-device-sim >&-", 1, "", "output is closed\n"},
             {"./zorvik-discover --help >/dev/full", 2, "", "error 28: No space left on device\n"},
             {"./zorvik-device-sim --help >/dev/full", 1, "", "output: No space left on device\n"},
             {"./zorvik-device-sim --first-address 127.0.0.9 >/dev/full", 1, "", "output: No space left"},
             // Bad options or values, also addresses no host can answer from: usage and status 2, or named here.
             {"for a in --bogus extra --hosts '--hosts 1001' '--answers x' '--delay -1' '--burst 5 --answers 2' "
              "'--interface nosuch0' '--first-address '{127.0.0,255.255.255.255,224.1.2.3,0.0.0.0} "
              "'--hosts 2 --first-address 223.255.255.255'; do ./zorvik-device-sim $a 2>&1 >/dev/null | "
              "grep -q '^Usage: zorvik-device-sim' && ((PIPESTATUS[0] == 2)) || echo \"$a\"; done", 0, "", ""}}) {
        Process run("bash", inBin(script));
        EXPECT_EQ(run.finish(), status) << script;
        for (const auto& [got, want] : {std::pair{run.out, out}, {run.err, err}})
            EXPECT_TRUE(*want ? got.find(want) != std::string::npos : got.empty()) << script << ": " << got;
    }
}

TEST_F(ProgramTest, consoleResults_toAFullNonBlockingPipe_everyLineOnceWithNewline_oneWritePerFlush_noneKept) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_NONBLOCK | O_CLOEXEC), 0);
    ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    int writes = 0;
    ConsoleResults results([&](std::string_view text) { ++writes; if (const int e = writeAll(pipe[1], text)) throw Failure::fromErrno(e); },
                           [](std::string_view line, std::string& out) { out.append(line).push_back('\n'); });
    std::string expected, written, chunk(4096, '\0');
    std::thread writer([&] {  // each flush is ~34 KB into 4 KiB of pipe: it must wait for room
        for (int i = 0; i < 5000; ++i) {
            const std::string line = std::string(protocol::kResultPrefix) + "127.0.0." + std::to_string(i % 250);
            results.setText(results.text() + line + protocol::kLineEnd);
            expected += line + '\n';
            if (i % 1000 == 999) results.flush();
        }
        results.flush();  // nothing new: no write
        ::close(pipe[1]);
    });
    for (pollfd in{pipe[0], POLLIN, 0}; ::poll(&in, 1, 10000) > 0;) {
        const ssize_t got = ::read(pipe[0], chunk.data(), chunk.size());
        if (got <= 0) break;
        written.append(chunk.data(), static_cast<std::size_t>(got));
    }
    writer.join();
    EXPECT_TRUE(written == expected && writes == 5 && results.text().empty() && results.linesListed() == 5000);
}

// A signal or a pipe without room, with or without a stop to watch, costs nothing and
// repeats nothing; any other error is the result, with nothing written.
TEST(StandardStreamsTest, writeAll_interruptedOrNoRoom_allOnce_elseThatErrno) {
    int out[2], stop[2];
    ASSERT_TRUE(::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(stop, O_CLOEXEC) == 0);
    const std::string text = "one\ntwo\n";
    for (const auto& [call, errors, by, result] : std::initializer_list<std::tuple<const char*, std::deque<int>, int, int>>{
             {"write", {EINTR, EAGAIN, EINTR}, -1, 0}, {"write", {EAGAIN, EINTR}, stop[0], 0},
             {"poll", {EINTR}, stop[0], 0}, {"write", {EIO}, -1, EIO}, {"poll", {ENOMEM}, stop[0], ENOMEM}}) {
        testing::ScriptedCalls calls;
        calls.fail(call, errors);
        EXPECT_EQ(writeAll(out[1], text, by, calls), result) << call << " " << by;
        int queued = -1;
        ASSERT_EQ(::ioctl(out[0], FIONREAD, &queued), 0);
        std::string got(static_cast<std::size_t>(queued), '\0');
        ASSERT_EQ(::read(out[0], got.data(), got.size()), queued);
        EXPECT_EQ(got, result == 0 ? text : "") << call << " " << by;
    }
    for (const int fd : {out[0], out[1], stop[0], stop[1]}) ::close(fd);
}

// ---- The twin held up ----

// A pipe of one page for the twin's output, which nobody reads until `drained`.
struct SmallPipe {
    int fds[2] = {-1, -1};
    SmallPipe() { EXPECT_TRUE(::pipe2(fds, O_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETPIPE_SZ, 4096) == 4096); }
    ~SmallPipe() { ::close(fds[0]), ::close(fds[1]); }
    QString writeEnd() const { return QString("/proc/self/fd/%1").arg(fds[1]); }
    void closeWriteEnd() { ::close(fds[1]), fds[1] = -1; }
    bool holdsSome(int ms) const {
        int held = 0;
        for (const auto end = Clock::now() + milliseconds(ms); held == 0 && Clock::now() < end; std::this_thread::sleep_for(milliseconds(5)))
            ::ioctl(fds[0], FIONREAD, &held);
        return held > 0;
    }
    std::string drained() const {
        std::string all, chunk(1 << 16, '\0');
        for (ssize_t got; (got = ::read(fds[0], chunk.data(), chunk.size())) > 0;) all.append(chunk.data(), static_cast<std::size_t>(got));
        return all;
    }
};

// A watch whose first round has more to say than the pipe holds, and a reader
// that never reads: the stop signal ends it all the same, with status 0; what
// the pipe holds is whole lines.
TEST_F(ProgramTest, watchWhoseOutputNobodyReads_stopSignal_endsWithStatus0_thePipeHoldingWholeLines) {
    const auto devices = startDevices({"--hosts", "100", "--first-address", "127.0.2.1"});
    for (const int signal : {SIGTERM, SIGINT}) {
        SmallPipe out;
        Process twin(bin("zorvik-discover"), {"--watch", "--every", "1", "-j"}, out.writeEnd());
        out.closeWriteEnd();
        ASSERT_TRUE(out.holdsSome(10000)) << "no round ended";
        ::kill(static_cast<pid_t>(twin.processId()), signal);
        EXPECT_EQ(twin.finish(5000), 0) << signal << ": " << twin.err;
        const std::string written = out.drained();
        EXPECT_TRUE(written.ends_with('\n')) << signal << ": a line was cut";
        for (const auto& line : QByteArray::fromStdString(written).split('\n'))
            EXPECT_TRUE(line.isEmpty() || QJsonDocument::fromJson(line).isObject()) << line.toStdString();
    }
}

// Its output held up so, while a flood comes in: the receive thread takes in
// answers up to the program's own cap and drops the rest, which the twin says
// once its output is read, having listed every answer it kept.
TEST_F(ProgramTest, discoverFloodedWhileItsOutputWaits_pastItsOwnCap_listsWhatItKept_andSaysItDroppedTheRest) {
    testing::UdpPeer device(protocol::kGroup.data(), protocol::kPort);
    SmallPipe out;
    Process twin(bin("zorvik-discover"), {"-w", "500"}, out.writeEnd());
    out.closeWriteEnd();
    const auto seen = device.receive(5000);
    ASSERT_TRUE(seen);
    constexpr std::uint64_t kSent = 200000;  // the cap is 131,072 answers waiting
    for (std::uint64_t i = 1; i <= kSent; ++i) {  // in bursts that the system's buffer holds
        device.sendTo(seen->fromPort, "ZV");
        if (i % 5000 == 0) std::this_thread::sleep_for(milliseconds(10));
    }
    ::fcntl(out.fds[0], F_SETPIPE_SZ, 1 << 20);
    const auto listed = static_cast<std::uint64_t>(std::ranges::count(out.drained(), '\n'));
    ASSERT_EQ(twin.finish(), 0) << twin.err;
    static const QRegularExpression said(R"(this program dropped (\d+) at its limit of 131072 answers)");
    const auto atCaps = said.match(QString::fromStdString(twin.err)).captured(1).toULongLong();
    EXPECT_GT(atCaps, 0u) << twin.err;
    EXPECT_EQ(listed + droppedSaid(twin.err).bySystem + atCaps, kSent) << twin.err;
}

// recvmmsg failing with EINTR every time, by the preloaded stand-in, while a
// device's answer waits: the twin still ends after its period.
TEST_F(ProgramTest, discoverWhoseEveryReceiveIsInterrupted_endsAfterItsPeriodAllTheSame) {
    const auto devices = startDevices({});
    Process twin("bash", onStockKernel("./zorvik-discover -w 300", "ZORVIK_RECEIVE_ERRNO=4"));
    EXPECT_EQ(twin.finish(10000), 1) << twin.err;
    EXPECT_TRUE(twin.out.empty() && twin.err.empty()) << twin.out << twin.err;
}

TEST_F(ProgramTest, lanStopSignalToItsPid_endsCommandAndDevicesPromptly) {
    Process lan(testing::lan(), {"--", "bash", "-c", "trap 'echo stopped; exit 3' TERM; echo started; sleep 600 & wait"});
    ASSERT_TRUE(lan.waitForReadyRead(20000)) << lan.readAllStandardError().toStdString();
    lan.terminate();
    EXPECT_EQ(lan.finish(5000), 143);
    EXPECT_EQ(lan.out, "started\nstopped\n");
}

}  // namespace
}  // namespace zorvik
