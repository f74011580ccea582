#include "receive_buffer_option.hpp"

#include <sys/socket.h>

#include "receive_buffer.hpp"

namespace zorvik {

bool ReceiveBufferOption::apply(std::int32_t socketHandle) noexcept {
    const int bytes = kReceiveBufferBytes;
    return calls_.setsockopt(socketHandle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

}  // namespace zorvik
