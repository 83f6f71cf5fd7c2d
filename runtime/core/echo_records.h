// The records of the echo command, in the 32-bit Windows layout that the program passes on both
// platforms: the option record it gives (IP_OPTION_INFORMATION) and the reply it is given
// (ICMP_ECHO_REPLY). Their offsets are written here once, for everything that reads or writes them.
#pragma once

#include <cstdint>

namespace rt {

// IP_OPTION_INFORMATION: its first 8 bytes.
inline constexpr uint32_t kOptionTtl = 0;   // u8, the time-to-live
inline constexpr uint32_t kOptionTos = 1;   // u8, the type of service
inline constexpr uint32_t kOptionFlags = 2; // u8, IP flags
inline constexpr uint8_t kIpFlagDontFragment = 0x02;

// ICMP_ECHO_REPLY, 28 bytes, followed by the echoed data.
inline constexpr uint32_t kReplyAddress = 0;       // u32, network byte order
inline constexpr uint32_t kReplyStatus = 4;        // u32, an IpStatus
inline constexpr uint32_t kReplyRoundTripTime = 8; // u32, milliseconds
inline constexpr uint32_t kReplyDataSize = 12;     // u16
inline constexpr uint32_t kReplyReserved = 14;     // u16, number of replies in the buffer
inline constexpr uint32_t kReplyData = 16;         // u32, address of the data (0 above 4 GiB)
inline constexpr uint32_t kReplyOptions = 20;      // 8 bytes: ttl, tos, flags, size, data address
inline constexpr uint32_t kReplyHeaderSize = 28;

} // namespace rt
