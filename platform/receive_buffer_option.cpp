#include "receive_buffer_option.hpp"

#include <sys/socket.h>

namespace zorvik {

bool ReceiveBufferOption::apply(std::int32_t socketHandle) noexcept {
    const int bytes = kRequestedBytes;
    return calls_.setsockopt(socketHandle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

}  // namespace zorvik
