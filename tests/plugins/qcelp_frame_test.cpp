// The full-rate packet layout, the LSP validity rule and the encoder's guarantee that every frame
// it sends is one a decoder accepts.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "plugins/qscl/qcelp_encoder.h"
#include "plugins/qscl/qcelp_frame.h"
#include "plugins/qscl/qcelp_lpc.h"
#include "plugins/qscl/qcp_file.h"

namespace tolvane::qcelp {
namespace {

FullRateFrame randomFrame(std::mt19937& rng) {
    auto bits = [&](int width) { return static_cast<std::uint8_t>(rng() & ((1u << width) - 1)); };
    FullRateFrame f;
    const int lspBits[5] = {6, 7, 7, 6, 6};
    for (int k = 0; k < 5; ++k)
        f.lspIndex[k] = bits(lspBits[k]);
    for (int i = 0; i < 4; ++i) {
        f.pitchLag[i] = bits(7);
        f.pitchFrac[i] = bits(1);
        f.pitchGain[i] = bits(3);
    }
    for (int i = 0; i < 16; ++i) {
        f.cbIndex[i] = bits(7);
        f.cbSign[i] = bits(1);
        f.cbGain[i] = bits((i + 1) % 4 == 0 ? 3 : 4);
    }
    return f;
}

TEST(QcelpFrame, PackAndUnpackRoundTripEveryField) {
    std::mt19937 rng(7);
    for (int n = 0; n < 500; ++n) {
        const FullRateFrame f = randomFrame(rng);
        const Payload p = pack(f);
        EXPECT_EQ(p[33] & 0x3F, 0) << "pad bits after the 266 coded bits";
        ASSERT_EQ(unpack(p), f) << "frame " << n;
        ASSERT_EQ(pack(unpack(p)), p);
    }
}

// Fields whose place in the packet is known from the bit order: the low three bits of the third
// LSP index open the packet and its high four bits follow 25 bits later; the last codebook
// subframe's index and sign close it; the reserved pair sits just before them.
TEST(QcelpFrame, FieldsSitWhereTheBitOrderPutsThem) {
    struct Case {
        const char* name;
        void (*set)(FullRateFrame&);
        std::vector<std::pair<int, std::uint8_t>> bytes;  // (byte, value); others zero
    };
    const Case cases[] = {
        {"lsp index 2", [](FullRateFrame& f) { f.lspIndex[2] = 0x7F; }, {{0, 0xE0}, {3, 0x0F}}},
        {"lsp index 1", [](FullRateFrame& f) { f.lspIndex[1] = 0x7F; }, {{0, 0x1F}, {1, 0xC0}}},
        {"last sign", [](FullRateFrame& f) { f.cbSign[15] = 1; }, {{33, 0x40}}},
        {"last index", [](FullRateFrame& f) { f.cbIndex[15] = 0x7F; }, {{32, 0x3F}, {33, 0x80}}},
        {"reserved", [](FullRateFrame& f) { f.reserved = 3; }, {{32, 0xC0}}},
    };
    for (const Case& c : cases) {
        FullRateFrame f;
        c.set(f);
        Payload expected{};
        for (auto [at, value] : c.bytes)
            expected[at] = value;
        EXPECT_EQ(pack(f), expected) << c.name;
    }
}

TEST(QcelpFrame, LspValidityFollowsTheDecodersRule) {
    struct Case {
        const char* name;
        std::array<int, 10> units;
        bool valid;
    };
    const Case cases[] = {
        {"evenly spread", {909, 1818, 2727, 3636, 4545, 5454, 6363, 7272, 8181, 9090}, true},
        {"last too low", {600, 1200, 1800, 2400, 3000, 3600, 4200, 4800, 5400, 6600}, false},
        {"last just high enough",
         {600, 1300, 2000, 2700, 3600, 4300, 5000, 5700, 6600, 6601},
         true},
        {"last too high", {909, 1818, 2727, 3636, 4545, 5454, 6363, 7272, 8181, 9850}, false},
        {"spacing of four too small",
         {909, 1818, 2727, 3636, 1840, 5454, 6363, 7272, 8181, 9090},
         false},
        {"spacing at the limit", {909, 1818, 2727, 3636, 1841, 5454, 6363, 7272, 8181, 9090}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lspsValid(c.units), c.valid) << c.name;
}

// Whatever the input, the encoder sends only frames the decoder accepts.
TEST(QcelpEncoder, EveryFrameIsAcceptedByTheDecoderRules) {
    struct Signal {
        const char* name;
        float (*sample)(int n, std::mt19937& rng);
    };
    const Signal signals[] = {
        {"silence", [](int, std::mt19937&) { return 0.0f; }},
        {"white noise at full scale",
         [](int, std::mt19937& rng) {
             return std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
         }},
        {"full-scale square 200 Hz",
         [](int n, std::mt19937&) { return (n / 20) % 2 ? 1.0f : -1.0f; }},
        {"impulses", [](int n, std::mt19937&) { return n % 997 == 0 ? 1.0f : 0.0f; }},
        {"pure tone 3900 Hz",
         [](int n, std::mt19937&) {
             return 0.5f * std::sin(2.0f * 3.14159265f * 3900.0f * n / 8000.0f);
         }},
        {"pure tone 60 Hz",
         [](int n, std::mt19937&) {
             return 0.9f * std::sin(2.0f * 3.14159265f * 60.0f * n / 8000.0f);
         }},
    };
    for (const Signal& s : signals) {
        std::mt19937 rng(3);
        constexpr int kFrames = 50;
        std::vector<float> x(kFrames * 160 + Encoder::kLookahead);
        for (std::size_t n = 0; n < x.size(); ++n)
            x[n] = s.sample(static_cast<int>(n), rng);
        Encoder encoder;
        for (int i = 0; i < kFrames; ++i) {
            const FullRateFrame f = encoder.encode(x.data() + 160 * i);
            ASSERT_TRUE(lspsValid(lspUnits(f.lspIndex))) << s.name << " frame " << i;
            ASSERT_EQ(f.reserved, 0);
            for (int k = 0; k < 4; ++k) {
                ASSERT_FALSE(f.pitchFrac[k] != 0 && f.pitchLag[k] >= 124) << s.name;
                if (f.pitchLag[k] != 0) {
                    ASSERT_GE(f.pitchLag[k] + 16, Encoder::kMinLag);
                }
            }
            for (int k = 3; k < 16; k += 4)
                ASSERT_LT(f.cbGain[k], 8) << s.name;
        }
    }
}

TEST(QcelpLpc, LspsOfAnAnalysedPredictorGiveItBack) {
    // A resonant predictor: poles at 500 Hz and 1500 Hz and 2800 Hz.
    std::vector<float> x(400);
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    float y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    for (float& v : x) {
        const float e = noise(rng);
        const float y = e + 1.6f * y1 - 0.9f * y2;
        const float z = y - 0.3f * z1 - 0.8f * z2;
        y2 = y1;
        y1 = y;
        z2 = z1;
        z1 = z;
        v = z;
    }
    const auto r = autocorrelation(x.data(), static_cast<int>(x.size()), 0.0, 1.0);
    Lpc a;
    ASSERT_TRUE(levinson(r, a));
    Lsp lsp;
    ASSERT_TRUE(lpcToLsp(a, lsp));
    for (int i = 1; i < 10; ++i)
        EXPECT_GT(lsp[i], lsp[i - 1]);
    const Lpc back = lspToLpc(lsp);
    for (int k = 0; k < 10; ++k)
        EXPECT_NEAR(back[k], a[k], 1e-5) << k;
}

TEST(QcpFile, HeaderFollowsTheQcpLayout) {
    struct Case {
        std::uint32_t packets;
        std::uint64_t fileSize;
    };
    for (const Case c : {Case{0, 194}, Case{2, 264}, Case{3, 300}}) {
        const auto h = qcpHeader(c.packets);
        auto le32 = [&](int at) {
            return h[at] | (h[at + 1] << 8) | (h[at + 2] << 16) | (std::uint32_t{h[at + 3]} << 24);
        };
        auto le16 = [&](int at) { return h[at] | (h[at + 1] << 8); };
        auto tag = [&](int at) { return std::string(h.begin() + at, h.begin() + at + 4); };
        EXPECT_EQ(qcpFileSize(c.packets), c.fileSize);
        EXPECT_EQ(tag(0), "RIFF");
        EXPECT_EQ(le32(4), c.fileSize - 8);
        EXPECT_EQ(tag(8), "QLCM");
        EXPECT_EQ(tag(12), "fmt ");
        EXPECT_EQ(le32(16), 150u);
        EXPECT_EQ(h[20], 1);
        EXPECT_EQ(h[21], 0);
        const std::uint8_t codec[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                        0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
        EXPECT_TRUE(std::equal(codec, codec + 16, h.begin() + 22));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 40)), "Qcelp 13K");
        EXPECT_EQ(le16(120), 13000);
        EXPECT_EQ(le16(122), 35);
        EXPECT_EQ(le16(124), 160);
        EXPECT_EQ(le16(126), 8000);
        EXPECT_EQ(le16(128), 16);
        EXPECT_EQ(le32(130), 5u);
        const std::uint8_t rates[10] = {34, 4, 16, 3, 7, 2, 3, 1, 0, 0};
        EXPECT_TRUE(std::equal(rates, rates + 10, h.begin() + 134));
        EXPECT_EQ(tag(170), "vrat");
        EXPECT_EQ(le32(174), 8u);
        EXPECT_EQ(le32(178), 1u);
        EXPECT_EQ(le32(182), c.packets);
        EXPECT_EQ(tag(186), "data");
        EXPECT_EQ(le32(190), 35 * c.packets);
    }
}

}  // namespace
}  // namespace tolvane::qcelp
