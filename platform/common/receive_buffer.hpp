#pragma once

namespace zorvik {

// The start-up socket option asks for a receive buffer this large, so that
// thousands of answers arriving at once wait in the system instead of being
// dropped while the window is busy. The system may grant less, or refuse.
inline constexpr int kReceiveBufferBytes = 4 << 20;

}  // namespace zorvik
