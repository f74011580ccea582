#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

#include "system_calls.hpp"
#include "udp_endpoint.hpp"
#include "ui_waker.hpp"

namespace zorvik {

// The endpoint's way into Qt's event loop: a queued call from the receive
// thread, and a zero timer, which Qt runs after the input and painting that wait.
class QtWaker final : public UiWaker {
public:
    QtWaker();

    void connect(std::function<void()> woken) override;
    void wake() noexcept override;
    // Qt does not say; the zero timer costs little.
    bool inputWaits() const override { return true; }
    void wakeAfterInput() override { afterInput_.start(); }

private:
    std::function<void()> woken_;
    QObject context_;  // on the UI thread: a queued call to it dies with it
    QTimer afterInput_;
};

// The endpoint's parts on Linux under Qt: the kernel's UDP socket through `calls`.
EndpointParts qtEndpointParts(SystemCalls& calls = realSystemCalls());

}  // namespace zorvik
