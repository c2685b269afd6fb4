// The QCP file (RFC 3625) around full-rate QCELP-13K packets: "RIFF" "QLCM", a "fmt " chunk
// naming the codec, a "vrat" chunk with the packet count, and "data" holding the packets.
#pragma once

#include <array>
#include <cstdint>

namespace tolvane::qcelp {

// A full-rate packet: the rate byte followed by the 34-byte payload.
constexpr int kPacketBytes = 35;
constexpr std::uint8_t kFullRateCode = 4;
constexpr int kQcpHeaderBytes = 194;

// Everything before the first packet, for a file of `packets` full-rate packets.
std::array<std::uint8_t, kQcpHeaderBytes> qcpHeader(std::uint32_t packets);

// Size of the whole file, with the pad byte that keeps an odd "data" chunk even.
std::uint64_t qcpFileSize(std::uint32_t packets);

// Packets a file of `packets` may hold without overflowing the 32-bit RIFF size.
constexpr std::uint32_t kMaxPackets = (0xFFFFFFFFu - kQcpHeaderBytes) / kPacketBytes - 1;

}  // namespace tolvane::qcelp
