#pragma once

#include <cstdint>
#include <string_view>

// Every fixed value of the tool, shared by the program, the tools and the tests.
namespace zorvik::protocol {

inline constexpr std::string_view kProductName = "Zorvik Discovery";
inline constexpr std::string_view kVersion = "1.00";

// Where the probe goes. The tool never joins the group and never binds this port.
inline constexpr std::string_view kGroup = "224.1.2.3";
inline constexpr std::int32_t kPort = 4567;

// "ZV", 0x00, 0x01: the zero byte is a real payload byte, not a terminator.
inline constexpr std::string_view kProbe{"ZV\0\x01", 4};

inline constexpr std::string_view kBusyCaption = "Running...";
inline constexpr std::string_view kReadyCaption = "Discover";
inline constexpr std::string_view kExitCaption = "Exit";
inline constexpr std::string_view kResultPrefix = "Zorvy found at address: ";
inline constexpr std::string_view kLineEnd = "\r\n";

inline constexpr std::int32_t kListeningPeriodMs = 5000;

// The endpoint's mode value for UDP, the only mode it is ever used in.
inline constexpr std::int32_t kProtocolUdp = 1;

}  // namespace zorvik::protocol
