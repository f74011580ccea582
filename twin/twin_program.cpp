#include "twin_program.hpp"

#include <array>

#include "destination.hpp"
#include "device_details.hpp"
#include "form_wiring.hpp"
#include "record_format.hpp"

namespace zorvik {
namespace {

using std::chrono::milliseconds;
constexpr std::array<std::string_view, 4> kAnswerColumns = {"address", "port", "bytes", "ms"};
constexpr std::array<std::string_view, 5> kDetailColumns = {"address", "mac", "maker", "name", "answers"};
constexpr std::array<std::string_view, 3> kEventColumns = {"time", "event", "address"};
// Names still looked up this long after the wait are left empty.
constexpr milliseconds kNameBudget{1000};

}  // namespace

TwinProgram::TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                         EventDispatch::Reporter report)
    : options_(options),
      parts_(parts),
      console_(console),
      txtResults_(console.output, [this](std::string_view line, std::string& out) { format(line, out); }),
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
          kFailureStatus),
      form_({cmdDiscover_, txtResults_, parts_.timer, parts_.endpoint, parts_.startupOption, dispatch_}),
      watch_(options.missingRounds, std::chrono::system_clock::now) {
    wireEndpoint(parts_.endpoint, dispatch_, form_, [this] { txtResults_.flush(); },
                 [this](const ReceivedDatagram& arrival) {
                     if (listsRecords()) {  // only a record per answer says more than the sender
                         const auto elapsed = std::chrono::steady_clock::now() - roundStart_;
                         current_ = {static_cast<std::int32_t>(arrival.payload.size()), swapPortOrder(arrival.port),
                                     std::chrono::duration_cast<milliseconds>(elapsed).count()};
                     }
                 });
}

bool TwinProgram::start() {
    dispatch_.deliver([this] {
        form_.Form_Load();
        startRound();
        // Nothing has been listed yet: answers come through the event loop.
        if (options_.format == OutputFormat::Csv && !options_.quiet && !options_.count && !options_.details) {
            using Columns = std::span<const std::string_view>;
            console_.output(csvHeader(options_.watch ? Columns(kEventColumns) : Columns(kAnswerColumns)));
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
    if (!options_.quiet && !out.empty()) console_.output(out);
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
    const bool found = txtResults_.linesListed() > 0;
    if (const std::string out = options_.quiet ? std::string() : summary(); !out.empty()) console_.output(out);
    if (tally_.overflowed()) note("more than " + std::to_string(kMaxDevices) + " devices answered; the rest are not counted");
    if (!found && console_.errorIsTerminal) {
        note("no device answered within " + std::to_string(options_.waitMs) + " ms. If devices are known to be there, "
             "a firewall dropping the answers to this program's port is the usual cause: see " +
             std::string(console_.readMore) + ".");
    }
    dispatch_.end(found ? kFoundStatus : kNoneFoundStatus);
}

std::string TwinProgram::summary() {
    std::string out;
    if (options_.count) {
        return std::to_string(tally_.devices().size()) + std::string(console_.newline);
    }
    if (!options_.details) {
        return out;
    }
    std::vector<std::uint32_t> addresses;
    for (const auto& device : tally_.devices()) addresses.push_back(device.address);
    const auto details = lookUpDetails(addresses, kNameBudget, [this](const std::string& text) { note(text); });
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        rows.push_back({dottedAddress(addresses[i]), details[i].mac, details[i].maker, details[i].name,
                        std::to_string(tally_.devices()[i].answers)});
    }
    if (options_.format == OutputFormat::Text) {
        return rows.empty() ? out : alignedTable(kDetailColumns, rows, console_.newline);
    }
    if (options_.format == OutputFormat::Csv) out = csvHeader(kDetailColumns);
    for (auto& row : rows) {
        const Field fields[] = {{"address", std::move(row[0])}, {"mac", std::move(row[1])},
                                {"maker", std::move(row[2])},   {"name", std::move(row[3])},
                                {"answers", std::move(row[4]), true}};
        appendRecord(out, options_.format, fields, console_.newline);
    }
    return out;
}

void TwinProgram::note(const std::string& text) {
    if (options_.quiet) {
        return;
    }
    console_.error(std::string(kTwinName) + ": " + text + std::string(console_.newline));
}

void TwinProgram::format(std::string_view line, std::string& out) {
    if (options_.quiet) {  // nothing of an answer is shown, counted or watched
        return;
    }
    const auto prefix = protocol::kResultPrefix;
    const std::string_view address = line.starts_with(prefix) ? line.substr(prefix.size()) : line;
    if (options_.watch) {
        // Late answers to the last round are none of the next one's.
        const auto parsed = phase_ == Phase::BetweenRounds ? std::nullopt : parseDottedAddress(address);
        if (parsed) watch_.answered(*parsed);
        return;
    }
    const auto parsed = tallies() ? parseDottedAddress(address) : std::nullopt;
    const std::uint64_t answers = parsed ? tally_.add(*parsed) : 1;
    if (options_.details || options_.count || (options_.unique && answers != 1)) {
        return;
    }
    if (options_.format == OutputFormat::Text) {
        out += line;
        out += console_.newline;
        return;
    }
    const Field fields[] = {{"address", std::string(address)},
                            {"port", std::to_string(current_.port), true},
                            {"bytes", std::to_string(current_.bytes), true},
                            {"ms", std::to_string(current_.ms), true}};
    appendRecord(out, options_.format, fields, console_.newline);
}

}  // namespace zorvik
