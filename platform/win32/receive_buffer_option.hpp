#pragma once

#include "controls.hpp"
#include "winsock_calls.hpp"

namespace zorvik::win32 {

// The start-up socket option: a large receive buffer (see receive_buffer.hpp),
// set through the Winsock seam.
class ReceiveBufferOption final : public StartupSocketOption {
public:
    explicit ReceiveBufferOption(WinsockCalls& calls = realWinsockCalls()) : calls_(calls) {}
    bool apply(std::int32_t socketHandle) noexcept override;

private:
    WinsockCalls& calls_;
};

}  // namespace zorvik::win32
