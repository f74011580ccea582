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
constexpr std::array<std::string_view, 5> kAnswerColumns = {"address", "interface", "port", "bytes", "ms"};
// With --probes N, then "probes": how many of the N the device answered.
constexpr std::array<std::string_view, 7> kDetailColumns = {"address", "interface", "mac",   "maker",
                                                            "name",    "answers",   "probes"};
constexpr std::array<std::string_view, 3> kEventColumns = {"time", "event", "address"};
// Names still looked up this long after the wait are left empty.
constexpr milliseconds kNameBudget{1000};

// The one place a device's interface and label reach the Prometheus file.
PrometheusSnapshot::Device prometheusDevice(std::uint32_t address, std::string interface, bool up,
                                            const KnownDevice* known) {
    return {dottedAddress(address), std::move(interface), known ? known->label : "", up};
}

}  // namespace

TwinProgram::TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                         EventDispatch::Reporter report, std::optional<Inventory> known)
    : options_(options),
      shown_(shownBy(options)),
      parts_(parts),
      console_(console),
      // The window's lines are shown as they are; all else is made from the arrivals.
      txtResults_(console.output,
                  [this](std::string_view line, std::string& out) {
                      if (lineDue_) {
                          out.append(line);
                          // After the window's line, which stays as it is.
                          if (known_ && answerKnown_) {
                              out.append(" (known");
                              if (!answerKnown_->label.empty()) {
                                  out.append(": ");
                                  appendUntrusted(out, answerKnown_->label, TextForm::Visible);
                              }
                              out.append(")");
                          } else if (known_) {
                              out.append(" (new)");
                          }
                          out.append(console_.newline);
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
      interfaces_(console.interfaceName),
      watch_(options.missingRounds, std::chrono::system_clock::now),
      known_(std::move(known)) {
    wireEndpoint(parts_.endpoint, dispatch_, form_, [this] { txtResults_.flush(); },
                 [this](const ReceivedDatagram& answer) { answered(answer); });
}

bool TwinProgram::start() {
    dispatch_.deliver([this] {
        form_.Form_Load();
        startRound();
        // Nothing has been listed yet: answers come through the event loop.
        if (options_.format == OutputFormat::Csv) {
            const auto header = [this](std::span<const std::string_view> columns, std::initializer_list<std::string_view> known) {
                std::vector<std::string_view> names(columns.begin(), columns.end());
                if (known_) names.insert(names.end(), known);
                console_.output(csvHeader(names));
            };
            if (shown_ == Shown::Records || shown_ == Shown::FirstRecords) header(kAnswerColumns, {"status", "label"});
            if (shown_ == Shown::Changes) header(kEventColumns, {"label"});
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
    const auto list = [&](std::chrono::system_clock::time_point time, std::string_view kind, std::string address,
                          const KnownDevice* device) {
        if (shown_ != Shown::Changes) return;  // with -q the watch is kept for the Prometheus file alone
        std::vector<Field> fields = {{"time", utcTimestamp(time)}, {"event", std::string(kind)}, {"address", std::move(address)}};
        // In text, a round lost names no address rather than an empty one.
        if (kind == "round lost" && options_.format == OutputFormat::Text) fields.pop_back();
        // Text shows a label only where there is one.
        if (known_ && (options_.format != OutputFormat::Text || (device && !device->label.empty())))
            fields.push_back({"label", device ? device->label : ""});
        appendRecord(out, options_.format, fields, console_.newline);
    };
    for (const auto& event : watch_.endRound()) {
        if (event.kind == WatchEvent::Kind::RoundLost) {
            list(event.time, "round lost", "", nullptr);
            continue;
        }
        list(event.time, event.kind == WatchEvent::Kind::Appeared ? "appeared" : "gone", dottedAddress(event.address),
             known_ ? known_->find(event.address) : nullptr);
    }
    // A known device that never answered is gone from the start, and said so once.
    if (known_ && !std::exchange(firstRoundEnded_, true)) {
        const auto now = std::chrono::system_clock::now();
        for (const KnownDevice* device : known_->missing()) list(now, "gone", device->listed(), device);
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
        auto state = checkState(devices, options_.warning, options_.critical);
        const auto missing = known_ ? known_->missing() : std::vector<const KnownDevice*>();
        if (!missing.empty()) state = CheckState::Critical;
        std::string line = checkLine(state, devices, drops.bySystem.value_or(0) + drops.atCaps, options_.warning,
                                     options_.critical);
        if (known_) {
            if (!missing.empty()) line.insert(line.find('|'), ", " + missingSummary(missing));
            line += " missing=" + std::to_string(missing.size()) + ";;0;0;" + std::to_string(known_->size());
        }
        console_.output(line + std::string(console_.newline));
        dispatch_.end(static_cast<int>(state));
        return;
    }
    if (const std::string out = summary() + missingOutput(); !out.empty()) console_.output(out);
    if (tally_.overflowed()) note("more than " + std::to_string(kMaxDevices) + " devices answered; the rest are not counted");
    if (!anyAnswer_ && console_.errorIsTerminal) {
        note("no device answered within " + std::to_string(options_.waitMs) + " ms. If devices are known to be there, "
             "a firewall dropping the answers to this program's port is the usual cause: see " +
             std::string(console_.readMore) + ".");
    }
    const bool missing = known_ && !known_->missing().empty();
    dispatch_.end(!anyAnswer_ ? kNoneFoundStatus : missing ? kMissingStatus : kFoundStatus);
}

void TwinProgram::appendKnownFields(std::vector<Field>& fields, const KnownDevice* device, std::string_view status) const {
    if (!known_) return;
    fields.push_back({"status", std::string(status)});
    fields.push_back({"label", device ? device->label : ""});
}

std::string TwinProgram::missingOutput() const {
    std::string out;
    if (!known_ || (shown_ != Shown::Lines && shown_ != Shown::FirstLines && shown_ != Shown::Records &&
                    shown_ != Shown::FirstRecords)) {
        return out;
    }
    for (const KnownDevice* device : known_->missing()) {
        if (options_.format == OutputFormat::Text) {
            out += "Missing: " + device->listed();
            out += device->label.empty() ? " (known)" : " (known: " + visibleText(device->label) + ")";
            out += console_.newline;
            continue;
        }
        // JSON gives only what there is; a CSV row has every column.
        std::vector<Field> fields = {{"address", device->listed()}};
        if (options_.format == OutputFormat::Csv) {
            fields.insert(fields.end(), {{"interface", ""}, {"port", ""}, {"bytes", ""}, {"ms", ""}});
        }
        appendKnownFields(fields, device, "missing");
        appendRecord(out, options_.format, fields, console_.newline);
    }
    return out;
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
    const bool byProbe = options_.probes > 1;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        rows.push_back({dottedAddress(addresses[i]), interfaces_.of(devices[i].interfaceIndex), details[i].mac,
                        details[i].maker, details[i].name, std::to_string(devices[i].answers)});
        // "2/3" for a reader; a bare count, of --probes, for a program.
        const auto answered = std::to_string(std::popcount(devices[i].probes));
        if (byProbe) rows.back().push_back(text ? answered + '/' + std::to_string(options_.probes) : answered);
        if (!known_) continue;
        const KnownDevice* device = known_->find(addresses[i]);
        rows.back().insert(rows.back().end(), {device ? "known" : "new", device ? device->label : ""});
    }
    std::vector<std::string_view> columns(kDetailColumns.begin(), kDetailColumns.begin() + (byProbe ? 7 : 6));
    if (known_) {
        columns.insert(columns.end(), {"status", "label"});
        for (const KnownDevice* device : known_->missing()) {
            rows.push_back({device->address ? device->listed() : "", "", device->mac ? device->listed() : "", "", "", "0"});
            if (byProbe) rows.back().push_back(text ? "0/" + std::to_string(options_.probes) : "0");
            rows.back().insert(rows.back().end(), {"missing", device->label});
        }
    }
    if (text) {
        return rows.empty() ? out : alignedTable(columns, rows, console_.newline);
    }
    if (options_.format == OutputFormat::Csv) out = csvHeader(columns);
    for (auto& row : rows) {
        std::vector<Field> fields;
        for (std::size_t i = 0; i < row.size(); ++i) {
            fields.push_back({columns[i], std::move(row[i]), i == 5 || (byProbe && i == 6)});
        }
        appendRecord(out, options_.format, fields, console_.newline);
    }
    return out;
}

void TwinProgram::writePrometheus() {
    if (options_.prometheusFile.empty()) {
        return;
    }
    PrometheusSnapshot snapshot;
    const auto knownAt = [this](std::uint32_t address) { return known_ ? known_->find(address) : nullptr; };
    if (options_.watch) {
        for (const auto& [address, up, interfaceIndex] : watch_.presence())
            snapshot.devices.push_back(prometheusDevice(address, interfaces_.of(interfaceIndex), up, knownAt(address)));
    } else {
        for (const auto& device : tally_.devices())
            snapshot.devices.push_back(
                prometheusDevice(device.address, interfaces_.of(device.interfaceIndex), true, knownAt(device.address)));
    }
    // Known devices that never answered are expected: 0. One known by its MAC alone has no address to name.
    if (known_) {
        for (const KnownDevice* device : known_->missing()) {
            if (device->address) snapshot.devices.push_back(prometheusDevice(*device->address, "", false, device));
        }
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
    if (known_ && phase_ != Phase::BetweenRounds) answerKnown_ = known_->answered(answer.address, answer.arrived);
    ++answers_;
    // Watched in every mode, for the Prometheus file too. Late answers to the
    // last round are none of the next one's.
    if (options_.watch && phase_ != Phase::BetweenRounds) watch_.answered(answer.address, answer.interfaceIndex);
    // Lines and records as they come need no tally, unless the Prometheus file counts the devices.
    const bool tallied = !options_.watch && (!options_.prometheusFile.empty() || (shown_ != Shown::Nothing &&
                                                                                   shown_ != Shown::Lines &&
                                                                                   shown_ != Shown::Records));
    const std::uint64_t answers =
        tallied ? tally_.add(answer.address, probeBefore(answer.arrived), answer.interfaceIndex) : 0;
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
    std::vector<Field> fields = {{"address", dottedAddress(answer.address)},
                                 {"interface", interfaces_.of(answer.interfaceIndex)},
                                 {"port", std::to_string(swapPortOrder(answer.port)), true},
                                 {"bytes", std::to_string(answer.payload.size()), true},
                                 {"ms", std::to_string(sinceProbe.count()), true}};
    appendKnownFields(fields, answerKnown_, answerKnown_ ? "known" : "new");
    record_.clear();
    appendRecord(record_, options_.format, fields, console_.newline);
    txtResults_.append(record_);
}

}  // namespace zorvik
