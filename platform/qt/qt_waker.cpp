#include "qt_waker.hpp"

#include <memory>

#include "udp_socket.hpp"

namespace zorvik {

QtWaker::QtWaker() {
    afterInput_.setSingleShot(true);
    afterInput_.setInterval(0);
}

void QtWaker::connect(std::function<void()> woken) {
    woken_ = std::move(woken);
    QObject::connect(&afterInput_, &QTimer::timeout, &context_, [this] { woken_(); });
}

void QtWaker::wake() noexcept {
    QMetaObject::invokeMethod(&context_, [this] { woken_(); }, Qt::QueuedConnection);
}

EndpointParts qtEndpointParts(SystemCalls& calls) {
    return {std::make_unique<UdpSocket>(calls), std::make_unique<QtWaker>(), giveMemoryBack};
}

}  // namespace zorvik
