#pragma once

#include "controls.hpp"

namespace zorvik::win32 {

// The start-up socket option: a large receive buffer (see receive_buffer.hpp).
class ReceiveBufferOption final : public StartupSocketOption {
public:
    bool apply(std::int32_t socketHandle) noexcept override;
};

}  // namespace zorvik::win32
