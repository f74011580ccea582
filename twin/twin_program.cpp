#include "twin_program.hpp"

namespace zorvik {

TwinProgram::TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                         EventDispatch::Reporter report)
    : options_(options),
      parts_(parts),
      newline_(console.newline),
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
      form_({cmdDiscover_, txtResults_, parts_.timer, parts_.endpoint, parts_.startupOption, dispatch_}) {
    auto& endpoint = parts_.endpoint;
    endpoint.runThrough([this](const std::function<void()>& callback) { dispatch_.deliver(callback); });
    endpoint.onDataArrival([this](std::int32_t bytesTotal) {
        dispatch_.deliver([this, bytesTotal] {
            if (options_.json) {  // only its lines say more than the sender
                const auto elapsed = std::chrono::steady_clock::now() - probeSent_;
                current_ = {bytesTotal, parts_.endpoint.remoteSenderPort(),
                            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()};
            }
            form_.Winsock1_DataArrival(bytesTotal);
        });
    });
    endpoint.onSliceEnd([this] { dispatch_.deliver([this] { txtResults_.flush(); }); });
}

bool TwinProgram::start() {
    dispatch_.deliver([this] {
        form_.Form_Load();
        probeSent_ = std::chrono::steady_clock::now();
        form_.cmdDiscover_Click();
        // The period the user asked for, started afresh now that the probe is out.
        parts_.timer.setInterval(options_.waitMs);
    });
    return !dispatch_.ended();
}

void TwinProgram::periodOver() {
    // What arrived by now is listed, nothing later is taken in; all of it
    // through the dispatch, so even taking in the last answers may fail cleanly.
    dispatch_.deliver([this] {
        parts_.endpoint.deliverPending();
        if (dispatch_.ended()) {
            return;
        }
        form_.tmrResetCaption_Timer();
        txtResults_.flush();
        dispatch_.end(txtResults_.linesListed() > 0 ? kFoundStatus : kNoneFoundStatus);
    });
}

void TwinProgram::format(std::string_view line, std::string& out) {
    const auto prefix = protocol::kResultPrefix;
    const std::string_view address = line.starts_with(prefix) ? line.substr(prefix.size()) : line;
    if (options_.unique && !listed_.emplace(address).second) {
        return;
    }
    if (options_.json) {
        out += R"({"address":")";
        out += address;
        out += R"(","port":)" + std::to_string(current_.port) + R"(,"bytes":)" + std::to_string(current_.bytes) +
               R"(,"ms":)" + std::to_string(current_.ms) + "}";
    } else {
        out += line;
    }
    out += newline_;
}

}  // namespace zorvik
