#pragma once

#include "controls.hpp"
#include "system_calls.hpp"

namespace zorvik {

// The start-up socket option: a large receive buffer (see receive_buffer.hpp),
// set through the system-call seam.
class ReceiveBufferOption final : public StartupSocketOption {
public:
    explicit ReceiveBufferOption(SystemCalls& calls = realSystemCalls()) : calls_(calls) {}
    bool apply(std::int32_t socketHandle) noexcept override;

private:
    SystemCalls& calls_;
};

}  // namespace zorvik
