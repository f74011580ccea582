#include "twin_program.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "destination.hpp"
#include "device_details.hpp"
#include "form_wiring.hpp"
#include "prometheus_text.hpp"
#include "record_format.hpp"
#include "replace_file.hpp"
#include "untrusted_text.hpp"

namespace zorvik {
namespace {

using std::chrono::milliseconds;
constexpr std::array<std::string_view, 4> kAnswerColumns = {"address", "port", "bytes", "ms"};
// With --probes N, then "probes": how many of the N the device answered.
constexpr std::array<std::string_view, 6> kDetailColumns = {"address", "mac", "maker", "name", "answers", "probes"};
constexpr std::array<std::string_view, 3> kEventColumns = {"time", "event", "address"};
// Names still looked up this long after the wait are left empty.
constexpr milliseconds kNameBudget{1000};

// The one place a device's interface and label reach the Prometheus file:
// empty until answers carry their interface and an inventory gives labels.
PrometheusSnapshot::Device prometheusDevice(std::uint32_t address, bool up) { return {dottedAddress(address), "", "", up}; }

}  // namespace

TwinProgram::TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                         EventDispatch::Reporter report)
    : options_(options),
      shown_(shownBy(options)),
      parts_(parts),
      console_(console),
      // The window's lines are shown as they are; all else is made from the arrivals.
      txtResults_(console.output,
                  [this](std::string_view line, std::string& out) {
                      if (lineDue_) {
                          out.append(line).append(console_.newline);
                      }
                  }),
      dispatch_(
          [this] {
              parts_.endpoint.stop();
              parts_.timer.stop();
          },
          std::move(report),
          [this, leave = console.leaveEventLoop](int status) {
              status_ = status;
              leave(status);
          },
          options.check ? kUnknownStatus : kFailureStatus),
      form_({cmdDiscover_, txtResults_, parts_.timer, parts_.endpoint, parts_.startupOption, dispatch_}),
      watch_(options.missingRounds, std::chrono::system_clock::now) {
    wireEndpoint(parts_.endpoint, dispatch_, form_, [this] { txtResults_.flush(); },
                 [this](const ReceivedDatagram& answer) { answered(answer); });
}

bool TwinProgram::start() {
    dispatch_.deliver([this] {
        form_.Form_Load();
        startRound();
        // Nothing has been listed yet: answers come through the event loop.
        if (options_.format == OutputFormat::Csv) {
            if (shown_ == Shown::Records || shown_ == Shown::FirstRecords) console_.output(csvHeader(kAnswerColumns));
            if (shown_ == Shown::Changes) console_.output(csvHeader(kEventColumns));
        }
        if (options_.watch && console_.onStopRequest) {
            console_.onStopRequest([this] { dispatch_.deliver([this] { dispatch_.end(kFoundStatus); }); });
        }
    });
    return !dispatch_.ended();
}

void TwinProgram::periodOver() {
    dispatch_.deliver([this] {
        switch (phase_) {
        case Phase::Probing:
            sendProbe();
            return;
        case Phase::Listening:
            if (options_.watch) {
                endRound();
            } else {
                finish();
            }
            return;
        case Phase::BetweenRounds:
            startRound();
            return;
        }
    });
}

void TwinProgram::startRound() {
    roundStart_ = std::chrono::steady_clock::now();
    probesSent_ = 0;
    probeTimes_.clear();
    retried_ = false;
    sendProbe();
}

void TwinProgram::sendProbe() {
    // Stamped before it leaves: no answer to it can come sooner.
    probeTimes_.push_back(std::chrono::steady_clock::now());
    form_.cmdDiscover_Click();
    const bool last = ++probesSent_ == options_.probes;
    phase_ = last ? Phase::Listening : Phase::Probing;
    // The period the user asked for, started afresh now that the probe is out.
    parts_.timer.setInterval(last ? options_.waitMs : kProbeSpacingMs);
}

void TwinProgram::endRound() {
    // Most of the fleet silent at once is likelier a lost probe than devices gone: once more.
    if (!retried_ && watch_.roundSilent()) {
        retried_ = true;
        probesSent_ = options_.probes - 1;
        sendProbe();
        return;
    }
    phase_ = Phase::BetweenRounds;
    std::string out;
    for (const auto& event : watch_.endRound()) {
        if (shown_ != Shown::Changes) break;  // with -q the watch is kept for the Prometheus file alone
        const bool lost = event.kind == WatchEvent::Kind::RoundLost;
        const Field fields[] = {{"time", utcTimestamp(event.time)},
                                {"event", lost ? "round lost" : event.kind == WatchEvent::Kind::Gone ? "gone" : "appeared"},
                                {"address", lost ? "" : dottedAddress(event.address)}};
        // In text, a round lost names no address rather than an empty one.
        const std::size_t shown = lost && options_.format == OutputFormat::Text ? 2 : 3;
        appendRecord(out, options_.format, std::span(fields, shown), console_.newline);
    }
    if (!out.empty()) console_.output(out);
    writePrometheus();
    if (watch_.overflowed() && !capNoted_) {
        capNoted_ = true;
        note("more than " + std::to_string(kMaxDevices) + " devices at once; the rest are not watched");
    }
    // A round that ran long is followed at once.
    const auto left = roundStart_ + std::chrono::seconds(options_.everySeconds) - std::chrono::steady_clock::now();
    parts_.timer.setInterval(static_cast<std::int32_t>(std::max<milliseconds::rep>(
        1, std::chrono::ceil<milliseconds>(left).count())));
}

void TwinProgram::finish() {
    // What arrived by now is listed, nothing later is taken in; all of it
    // through the dispatch, so even taking in the last answers may fail cleanly.
    parts_.endpoint.finishIntake();
    if (dispatch_.ended()) {
        return;
    }
    form_.tmrResetCaption_Timer();
    txtResults_.flush();
    writePrometheus();
    if (shown_ == Shown::Check) {
        const auto devices = static_cast<std::int64_t>(tally_.devices().size());
        const auto drops = parts_.endpoint.drops();
        const auto state = checkState(devices, options_.warning, options_.critical);
        console_.output(checkLine(state, devices, drops.bySystem.value_or(0) + drops.atCaps, options_.warning,
                                  options_.critical) + std::string(console_.newline));
        dispatch_.end(static_cast<int>(state));
        return;
    }
    if (const std::string out = summary(); !out.empty()) console_.output(out);
    if (tally_.overflowed()) note("more than " + std::to_string(kMaxDevices) + " devices answered; the rest are not counted");
    if (!anyAnswer_ && console_.errorIsTerminal) {
        note("no device answered within " + std::to_string(options_.waitMs) + " ms. If devices are known to be there, "
             "a firewall dropping the answers to this program's port is the usual cause: see " +
             std::string(console_.readMore) + ".");
    }
    dispatch_.end(anyAnswer_ ? kFoundStatus : kNoneFoundStatus);
}

std::string TwinProgram::summary() {
    std::string out;
    if (shown_ == Shown::Count) {
        const std::string devices = std::to_string(tally_.devices().size());
        if (options_.format == OutputFormat::Text) return devices + std::string(console_.newline);
        // A record like any other, so a reader of JSON or CSV takes it as one.
        constexpr std::string_view name[] = {"devices"};
        if (options_.format == OutputFormat::Csv) out = csvHeader(name);
        const Field field[] = {{name[0], devices, true}};
        appendRecord(out, options_.format, field, console_.newline);
        return out;
    }
    if (shown_ != Shown::Details) {
        return out;
    }
    auto devices = tally_.devices();
    std::ranges::sort(devices, {}, [](const DeviceTally::Device& d) { return addressOrder(d.address); });
    std::vector<std::uint32_t> addresses;
    for (const auto& device : devices) addresses.push_back(device.address);
    const auto details =
        lookUpDetails(addresses, kNameBudget, [this](const std::string& text) { note(text); }, parts_.makers);
    const bool text = options_.format == OutputFormat::Text;
    const std::size_t columns = options_.probes > 1 ? 6 : 5;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        rows.push_back({dottedAddress(addresses[i]), details[i].mac, details[i].maker, details[i].name,
                        std::to_string(devices[i].answers)});
        // "2/3" for a reader; a bare count, of --probes, for a program.
        const auto answered = std::to_string(std::popcount(devices[i].probes));
        if (columns == 6) rows.back().push_back(text ? answered + '/' + std::to_string(options_.probes) : answered);
    }
    const std::span names(kDetailColumns.data(), columns);
    if (text) {
        return rows.empty() ? out : alignedTable(names, rows, console_.newline);
    }
    if (options_.format == OutputFormat::Csv) out = csvHeader(names);
    for (auto& row : rows) {
        const Field fields[] = {{"address", std::move(row[0])}, {"mac", std::move(row[1])},
                                {"maker", std::move(row[2])},   {"name", std::move(row[3])},
                                {"answers", std::move(row[4]), true},
                                {"probes", columns == 6 ? std::move(row[5]) : "", true}};
        appendRecord(out, options_.format, std::span(fields, columns), console_.newline);
    }
    return out;
}

void TwinProgram::writePrometheus() {
    if (options_.prometheusFile.empty()) {
        return;
    }
    PrometheusSnapshot snapshot;
    if (options_.watch) {
        for (const auto& [address, up] : watch_.presence()) snapshot.devices.push_back(prometheusDevice(address, up));
    } else {
        for (const auto& device : tally_.devices()) snapshot.devices.push_back(prometheusDevice(device.address, true));
    }
    const auto drops = parts_.endpoint.drops();
    snapshot.answers = answers_;
    snapshot.droppedBySystem = drops.bySystem.value_or(0);
    snapshot.droppedByProgram = drops.atCaps;
    snapshot.time = std::chrono::system_clock::now();
    if (auto failure = replaceFile(options_.prometheusFile, prometheusText(snapshot))) {
        throw Failure(failure->number(),
                      "cannot write '" + visibleText(options_.prometheusFile) + "': " + failure->description());
    }
}

void TwinProgram::note(const std::string& text) {
    if (shown_ == Shown::Nothing) {
        return;
    }
    console_.error(std::string(kTwinName) + ": " + text + std::string(console_.newline));
}

void TwinProgram::answered(const ReceivedDatagram& answer) {
    anyAnswer_ = true;
    ++answers_;
    // Counted in every mode, for the Prometheus file too. Late answers to the
    // last round are none of the next one's.
    if (options_.watch && phase_ != Phase::BetweenRounds) watch_.answered(answer.address);
    const std::uint64_t answers = options_.watch ? 0 : tally_.add(answer.address, probeBefore(answer.arrived));
    switch (shown_) {
    case Shown::Nothing:
    case Shown::Count:
    case Shown::Details:
    case Shown::Check:
    case Shown::Changes:
        return;
    case Shown::Lines:
        lineDue_ = true;
        return;
    case Shown::FirstLines:
        lineDue_ = answers == 1;
        return;
    case Shown::Records:
        listRecord(answer);
        return;
    case Shown::FirstRecords:
        if (answers == 1) listRecord(answer);
        return;
    }
}

int TwinProgram::probeBefore(std::chrono::steady_clock::time_point arrived) const {
    const auto after = std::ranges::upper_bound(probeTimes_, arrived);
    return static_cast<int>(std::max<std::ptrdiff_t>(0, after - probeTimes_.begin() - 1));
}

void TwinProgram::listRecord(const ReceivedDatagram& answer) {
    const auto sinceProbe = std::chrono::duration_cast<milliseconds>(answer.arrived - roundStart_);
    const Field fields[] = {{"address", dottedAddress(answer.address)},
                            {"port", std::to_string(swapPortOrder(answer.port)), true},
                            {"bytes", std::to_string(answer.payload.size()), true},
                            {"ms", std::to_string(sinceProbe.count()), true}};
    record_.clear();
    appendRecord(record_, options_.format, fields, console_.newline);
    txtResults_.append(record_);
}

}  // namespace zorvik
