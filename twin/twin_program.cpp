#include "twin_program.hpp"

#include <array>

#include "destination.hpp"
#include "device_details.hpp"
#include "form_wiring.hpp"
#include "record_format.hpp"

namespace zorvik {
namespace {

using std::chrono::milliseconds;
constexpr std::array<std::string_view, 5> kAnswerColumns = {"address", "interface", "port", "bytes", "ms"};
constexpr std::array<std::string_view, 6> kDetailColumns = {"address", "interface", "mac", "maker", "name", "answers"};
constexpr std::array<std::string_view, 3> kEventColumns = {"time", "event", "address"};
// Names still looked up this long after the wait are left empty.
constexpr milliseconds kNameBudget{1000};

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
      interfaces_(console.interfaceName),
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
    sendProbe();
}

void TwinProgram::sendProbe() {
    form_.cmdDiscover_Click();
    const bool last = ++probesSent_ == options_.probes;
    phase_ = last ? Phase::Listening : Phase::Probing;
    // The period the user asked for, started afresh now that the probe is out.
    parts_.timer.setInterval(last ? options_.waitMs : kProbeSpacingMs);
}

void TwinProgram::endRound() {
    phase_ = Phase::BetweenRounds;
    std::string out;
    for (const auto& event : watch_.endRound()) {
        const Field fields[] = {{"time", utcTimestamp(event.time)},
                                {"event", event.kind == WatchEvent::Kind::Appeared ? "appeared" : "gone"},
                                {"address", dottedAddress(event.address)}};
        appendRecord(out, options_.format, fields, console_.newline);
    }
    if (!out.empty()) console_.output(out);
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
        return std::to_string(tally_.devices().size()) + std::string(console_.newline);
    }
    if (shown_ != Shown::Details) {
        return out;
    }
    std::vector<std::uint32_t> addresses;
    for (const auto& device : tally_.devices()) addresses.push_back(device.address);
    const auto details = lookUpDetails(addresses, kNameBudget, [this](const std::string& text) { note(text); });
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto& device = tally_.devices()[i];
        rows.push_back({dottedAddress(addresses[i]), interfaces_.of(device.interfaceIndex), details[i].mac,
                        details[i].maker, details[i].name, std::to_string(device.answers)});
    }
    if (options_.format == OutputFormat::Text) {
        return rows.empty() ? out : alignedTable(kDetailColumns, rows, console_.newline);
    }
    if (options_.format == OutputFormat::Csv) out = csvHeader(kDetailColumns);
    for (auto& row : rows) {
        const Field fields[] = {{"address", std::move(row[0])}, {"interface", std::move(row[1])},
                                {"mac", std::move(row[2])},     {"maker", std::move(row[3])},
                                {"name", std::move(row[4])},    {"answers", std::move(row[5]), true}};
        appendRecord(out, options_.format, fields, console_.newline);
    }
    return out;
}

void TwinProgram::note(const std::string& text) {
    if (shown_ == Shown::Nothing) {
        return;
    }
    console_.error(std::string(kTwinName) + ": " + text + std::string(console_.newline));
}

void TwinProgram::answered(const ReceivedDatagram& answer) {
    anyAnswer_ = true;
    switch (shown_) {
    case Shown::Nothing:
        return;
    case Shown::Lines:
        lineDue_ = true;
        return;
    case Shown::FirstLines:
        lineDue_ = tally_.add(answer.address, answer.interfaceIndex) == 1;
        return;
    case Shown::Records:
        listRecord(answer);
        return;
    case Shown::FirstRecords:
        if (tally_.add(answer.address, answer.interfaceIndex) == 1) listRecord(answer);
        return;
    case Shown::Count:
    case Shown::Details:
    case Shown::Check:
        tally_.add(answer.address, answer.interfaceIndex);
        return;
    case Shown::Changes:
        // Late answers to the last round are none of the next one's.
        if (phase_ != Phase::BetweenRounds) watch_.answered(answer.address);
        return;
    }
}

void TwinProgram::listRecord(const ReceivedDatagram& answer) {
    const auto sinceProbe = std::chrono::duration_cast<milliseconds>(answer.arrived - roundStart_);
    const Field fields[] = {{"address", dottedAddress(answer.address)},
                            {"interface", interfaces_.of(answer.interfaceIndex)},
                            {"port", std::to_string(swapPortOrder(answer.port)), true},
                            {"bytes", std::to_string(answer.payload.size()), true},
                            {"ms", std::to_string(sinceProbe.count()), true}};
    record_.clear();
    appendRecord(record_, options_.format, fields, console_.newline);
    txtResults_.append(record_);
}

}  // namespace zorvik
