#pragma once

#include <QObject>
#include <QTimer>

#include "udp_endpoint.hpp"

namespace zorvik {

// The POSIX endpoint reporting through Qt's event loop. The receive thread
// wakes the UI thread with a queued call; slices then run from a zero timer,
// so that input and painting get their turns between them.
class QtUdpEndpoint final : public UdpEndpoint {
public:
    explicit QtUdpEndpoint(SystemCalls& calls = realSystemCalls());
    ~QtUdpEndpoint() override;

protected:
    void requestSlice() noexcept override;

private:
    QObject context_;  // on the UI thread: a queued call to it dies with it
    QTimer sliceTimer_;
};

}  // namespace zorvik
