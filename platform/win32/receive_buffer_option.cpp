#include "receive_buffer_option.hpp"

#include "receive_buffer.hpp"

namespace zorvik::win32 {

bool ReceiveBufferOption::apply(std::int32_t socketHandle) noexcept {
    const int bytes = kReceiveBufferBytes;
    return calls_.setsockopt(static_cast<SOCKET>(socketHandle), SOL_SOCKET, SO_RCVBUF,
                             reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

}  // namespace zorvik::win32
