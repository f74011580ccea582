#include "window_program.hpp"

#include "form_wiring.hpp"
#include "protocol.hpp"
#include "wide_text.hpp"
#include "win32_waker.hpp"

namespace zorvik::win32 {

WindowProgram::WindowProgram(std::function<void(int status)> end, WinsockCalls& calls)
    : dispatch_(
          [this] {
              // Nothing reaches the logic after this: pending expiries and
              // datagrams are abandoned with the window.
              Winsock1_.stop();
              tmrResetCaption_.stop();
          },
          [this](const Failure& failure) {
              const std::string text = "Error " + std::to_string(failure.number()) + ": " + failure.description();
              MessageBoxW(window_.handle(), widen(text).c_str(), widen(protocol::kProductName).c_str(),
                          MB_OK | MB_ICONERROR);
          },
          [this, end = std::move(end)](int status) {
              window_.hide();
              status_ = status;
              end(status);
          }),
      window_({
          .discoverClicked = dispatched(dispatch_, [this] { form_.cmdDiscover_Click(); }),
          .exitClicked = dispatched(dispatch_, [this] { form_.cmdExit_Click(); }),
          .closed = dispatched(dispatch_, [this] { dispatch_.End(); }),
          .resultsEdited = [this] { txtResults_.onChanged(); },
      }),
      cmdDiscover_(window_.cmdDiscover()),
      txtResults_(window_.txtResults()),
      tmrResetCaption_(dispatched(dispatch_, [this] { form_.tmrResetCaption_Timer(); })),
      Winsock1_(win32EndpointParts(calls)),
      startupOption_(calls),
      form_({cmdDiscover_, txtResults_, tmrResetCaption_, Winsock1_, startupOption_, dispatch_}) {
    wireEndpoint(Winsock1_, dispatch_, form_, [this] { txtResults_.flush(); });
}

void WindowProgram::leaveMessageLoop(int status) { PostQuitMessage(status); }

int WindowProgram::exec(int showCommand) {
    start(showCommand);
    // A failed load ends the program before there is a message loop to leave.
    return ended() ? status_ : runMessageLoop(&window_);
}

void WindowProgram::start(int showCommand) {
    dispatch_.deliver([this] { form_.Form_Load(); });
    if (!dispatch_.ended()) {
        window_.show(showCommand);
    }
}

int runMessageLoop(MainWindow* window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window != nullptr && window->preTranslate(message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace zorvik::win32
