// The SMAF (.mmf) file image: contents information with its two check codes, one audio track
// that plays one ADPCM wave once, and the closing CRC. All integers are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "converter/pcm_buffer.h"

namespace kessin {

// The contents-information record. Texts are NUL-terminated UTF-8; an all-zero slot is empty.
struct SmafOptions {
    static constexpr std::size_t kSlotCount = 13;
    static constexpr std::size_t kSlotSize = 257;
    // Slots the converter fills.
    static constexpr std::size_t kTitleSlot = 3;      // "ST"
    static constexpr std::size_t kCopyrightSlot = 8;  // "CR"
    static constexpr std::size_t kDateSlot = 11;      // "CD"

    std::uint8_t codeType = 0x23;  // every text is written as UTF-8
    // Bit 1: saving not allowed; bit 0: transfer not allowed. Higher bits are not written.
    std::uint8_t copyStatus = 0;
    std::array<std::array<char, kSlotSize>, kSlotCount> text{};

    // Copies `value` into a slot, cut to fit with its terminator.
    void setText(std::size_t slot, std::string_view value);
};

enum SmafResult : int {
    kSmafNoSamples = -998,
    kSmafTooLarge = -999,
    kSmafNoMemory = -1000,
};

// The longest play time stored, in ticks of 4 ms (66.04 s).
constexpr std::uint32_t kMaxTicks = 16510;

// The play time of `frames` at `rate`, in ticks, before the cut to kMaxTicks.
std::uint32_t playTicks(std::uint32_t frames, std::uint32_t rate);
// The fewest frames at `rate` that the writer cuts to kMaxTicks. Any longer input gives the same
// file as its first framesThatMatter(rate) frames.
std::uint32_t framesThatMatter(std::uint32_t rate);

// Codes `pcm` (mono, 16 bits, 4000 or 8000 Hz) and builds the complete file image; copies it to
// `destination` when it fits in `capacity`. Returns the image length or a SmafResult code.
std::int32_t encodeSmaf(const PcmBuffer& pcm, const SmafOptions& options, std::uint8_t* destination,
                        std::size_t capacity);

// CRC-16/GENIBUS: polynomial 0x1021, initial 0xFFFF, not reflected, result inverted.
std::uint16_t crc16(const std::uint8_t* bytes, std::size_t length);
// The two-character check code of a byte string: CRC XOR 0x515A, hex digits of bits 8-11 and 0-3.
std::string checkCode(const std::uint8_t* bytes, std::size_t length);

}  // namespace kessin
