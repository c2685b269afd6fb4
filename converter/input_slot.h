// The input-path slot: 260 bytes inside kessin's own executable file, at a fixed byte offset,
// holding the NUL-terminated path of the file to convert. The wizard writes the path into a
// private copy of the executable before starting it; kessin reads it afresh for every conversion.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kessin {

constexpr std::size_t kInputSlotSize = 260;
constexpr long kInputSlotOffset = 191656;  // 0x2ECA8
// What the slot holds as built.
constexpr const char* kDeliveredInputPath = "D:\\test.wav";

// The path in the slot of `executable` (up to its terminator); nothing when it cannot be read.
std::optional<std::string> readInputSlot(const std::string& executable = "/proc/self/exe");

}  // namespace kessin
