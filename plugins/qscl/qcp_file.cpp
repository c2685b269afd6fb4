#include "plugins/qscl/qcp_file.h"

#include <cstring>

namespace tolvane::qcelp {
namespace {

class Cursor {
public:
    explicit Cursor(std::uint8_t* p) : p_(p) {}
    void tag(const char* fourcc) { bytes(fourcc, 4); }
    void bytes(const void* data, std::size_t n) {
        std::memcpy(p_, data, n);
        p_ += n;
    }
    void u8(std::uint8_t v) { *p_++ = v; }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void zeros(std::size_t n) {
        std::memset(p_, 0, n);
        p_ += n;
    }

private:
    std::uint8_t* p_;
};

// {5E7F6D41-B115-11D0-BA91-00805FB4B97E} in its stored byte order.
constexpr std::uint8_t kQcelp13kId[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                          0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
constexpr std::uint32_t kFmtBytes = 150;
constexpr std::uint32_t kVratBytes = 8;

}  // namespace

std::uint64_t qcpFileSize(std::uint32_t packets) {
    const std::uint64_t data = std::uint64_t{kPacketBytes} * packets;
    return kQcpHeaderBytes + data + (data & 1u);
}

std::array<std::uint8_t, kQcpHeaderBytes> qcpHeader(std::uint32_t packets) {
    std::array<std::uint8_t, kQcpHeaderBytes> h{};
    Cursor c(h.data());
    const std::uint32_t dataBytes = kPacketBytes * packets;
    c.tag("RIFF");
    c.u32(static_cast<std::uint32_t>(qcpFileSize(packets) - 8));
    c.tag("QLCM");

    c.tag("fmt ");
    c.u32(kFmtBytes);
    c.u8(1);  // major version
    c.u8(0);  // minor version
    c.bytes(kQcelp13kId, sizeof kQcelp13kId);
    c.u16(2);  // codec version
    char name[80] = "Qcelp 13K";
    c.bytes(name, sizeof name);
    c.u16(13000);         // average bits per second
    c.u16(kPacketBytes);  // largest packet
    c.u16(160);           // samples per block
    c.u16(8000);          // sample rate
    c.u16(16);            // bits per sample
    // Rate map: payload bytes without the rate byte, and the rate code.
    c.u32(5);
    const std::uint8_t rates[5][2] = {{34, 4}, {16, 3}, {7, 2}, {3, 1}, {0, 0}};
    for (const auto& r : rates) {
        c.u8(r[0]);
        c.u8(r[1]);
    }
    c.zeros(2 * (8 - 5));
    c.zeros(20);  // reserved

    c.tag("vrat");
    c.u32(kVratBytes);
    c.u32(1);  // variable rate
    c.u32(packets);

    c.tag("data");
    c.u32(dataBytes);
    return h;
}

}  // namespace tolvane::qcelp
