#include "converter/input_slot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace kessin {

// The slot itself, in a section of its own that the linker script places at kInputSlotOffset.
// It is only ever read through the file, so the copy that the wizard rewrote is what counts.
// Sanitizer builds must not pad or realign it, or it would move off its byte.
#if defined(__clang__)
#define KESSIN_SLOT_NO_SANITIZE __attribute__((no_sanitize("address")))
#else
#define KESSIN_SLOT_NO_SANITIZE
#endif
__attribute__((section(".kessin_slot"), used, aligned(8)))
KESSIN_SLOT_NO_SANITIZE const char gInputSlot[kInputSlotSize] = "D:\\test.wav";

std::optional<std::string> readInputSlot(const std::string& executable) {
    const int fd = ::open(executable.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char slot[kInputSlotSize];
    const ssize_t n = ::pread(fd, slot, sizeof slot, kInputSlotOffset);
    ::close(fd);
    if (n != ssize_t(sizeof slot))
        return std::nullopt;
    return std::string(slot, ::strnlen(slot, sizeof slot));
}

}  // namespace kessin
