#include "qt_udp_endpoint.hpp"

#include <QThread>

namespace zorvik {

QtUdpEndpoint::QtUdpEndpoint(SystemCalls& calls) : UdpEndpoint(calls) {
    sliceTimer_.setSingleShot(true);
    sliceTimer_.setInterval(0);
    QObject::connect(&sliceTimer_, &QTimer::timeout, [this] { onSliceDue(); });
}

// The receive thread calls requestSlice(): it is stopped before the timer goes.
QtUdpEndpoint::~QtUdpEndpoint() { stopReceiving(); }

void QtUdpEndpoint::requestSlice() noexcept {
    if (QThread::currentThread() == context_.thread()) {
        sliceTimer_.start();
    } else {
        QMetaObject::invokeMethod(&context_, [this] { sliceTimer_.start(); }, Qt::QueuedConnection);
    }
}

}  // namespace zorvik
