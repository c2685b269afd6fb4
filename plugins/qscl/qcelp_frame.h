// The parameters of one full-rate QCELP-13K frame and their packing into the 34-byte payload.
#pragma once

#include <array>
#include <cstdint>

#include "plugins/qscl/qcelp_tables.h"

namespace tolvane::qcelp {

struct FullRateFrame {
    std::array<std::uint8_t, 5> lspIndex{};   // split-VQ indices: 6, 7, 7, 6, 6 bits
    std::array<std::uint8_t, 4> pitchLag{};   // 7 bits: 0 = pitch filter off, else lag - 16
    std::array<std::uint8_t, 4> pitchFrac{};  // 1 bit: lag + 0.5 (only with lag codes < 124)
    std::array<std::uint8_t, 4> pitchGain{};  // 3 bits: gain (code + 1) / 4
    std::array<std::uint8_t, 16> cbIndex{};   // 7 bits: circular codebook shift
    std::array<std::uint8_t, 16> cbSign{};    // 1 bit: negative gain (index sent as I + 89)
    std::array<std::uint8_t, 16> cbGain{};    // 4 bits, 3 bits in subframes 3, 7, 11, 15
    std::uint8_t reserved = 0;                // 2 bits, zero in a valid frame

    bool operator==(const FullRateFrame&) const = default;
};

using Payload = std::array<std::uint8_t, kFullRatePayloadBytes>;

// Bit order of the full-rate packet: fields written MSB-first from the first byte's top bit.
Payload pack(const FullRateFrame& frame);
FullRateFrame unpack(const Payload& payload);

// The ten quantised LSPs (normalised frequency 0..1) that the indices stand for, in 1/10000 units.
std::array<int, 10> lspUnits(const std::array<std::uint8_t, 5>& lspIndex);

// True when a decoder accepts the LSPs: 0.66 < lsp[9] < 0.985 and lsp[i] - lsp[i-4] >= 0.0931.
// Decoders compare in floating point; this test keeps one unit (1e-4) away from every limit so
// that rounding can never turn a frame we send into an erased one.
bool lspsValid(const std::array<int, 10>& units);

}  // namespace tolvane::qcelp
