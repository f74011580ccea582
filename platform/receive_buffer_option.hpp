#pragma once

#include "controls.hpp"
#include "system_calls.hpp"

namespace zorvik {

// The start-up socket option: a large receive buffer, so that thousands of
// answers arriving at once wait in the kernel instead of being dropped while
// the window is busy. The kernel may grant less than asked, or refuse.
class ReceiveBufferOption final : public StartupSocketOption {
public:
    static constexpr int kRequestedBytes = 4 << 20;

    explicit ReceiveBufferOption(SystemCalls& calls = realSystemCalls()) : calls_(calls) {}
    bool apply(std::int32_t socketHandle) noexcept override;

private:
    SystemCalls& calls_;
};

}  // namespace zorvik
