// The decoding pipe on its own, and the MP3 reader's dither with its known values.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "decoders/decoding_pipe.h"
#include "decoders/mp3_decoding.h"
#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

using namespace std::chrono_literals;

TEST(DecodingPipe, DeliversEverythingThenAShortReadThenZero) {
    DecodingPipe pipe("pipe failed");
    pipe.start(
        [](PipeWriter& writer) {
            std::vector<std::uint8_t> bytes(1000);
            for (int i = 0; i < 300; ++i) {
                std::fill(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(i));
                ASSERT_TRUE(writer.write(bytes.data(), bytes.size()));
            }
        },
        "thread failed");
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> piece(7001);
    std::size_t got;
    std::size_t shortReads = 0;
    while ((got = pipe.read(piece.data(), piece.size())) > 0) {
        if (got < piece.size())
            ++shortReads;
        all.insert(all.end(), piece.begin(), piece.begin() + long(got));
    }
    ASSERT_EQ(all.size(), 300000u);
    EXPECT_EQ(shortReads, 1u);  // only the last one
    for (std::size_t i = 0; i < all.size(); i += 1000)
        ASSERT_EQ(all[i], std::uint8_t(i / 1000));
    EXPECT_EQ(pipe.read(piece.data(), piece.size()), 0u);
}

TEST(DecodingPipe, AProducerBlockedInAWriteEndsWhenTheConsumerGoes) {
    std::atomic<bool> writeFailed{false};
    auto pipe = std::make_unique<DecodingPipe>("pipe failed");
    pipe->start(
        [&](PipeWriter& writer) {
            std::vector<std::uint8_t> bytes(1 << 20);
            while (writer.write(bytes.data(), bytes.size())) {
            }
            writeFailed = true;
        },
        "thread failed");
    std::vector<std::uint8_t> piece(100);
    ASSERT_EQ(pipe->read(piece.data(), piece.size()), 100u);
    std::this_thread::sleep_for(50ms);  // the producer now waits in its write
    const auto before = std::chrono::steady_clock::now();
    pipe.reset();  // SIGPIPE must not end the process either
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_TRUE(writeFailed);
}

TEST(DecodingPipe, AStubbornProducerIsLeftToEndOnItsOwnWithItsOwnState) {
    auto state = std::make_shared<std::atomic<int>>(0);
    {
        DecodingPipe pipe("pipe failed");
        pipe.start(
            [state](PipeWriter& writer) {
                // Ignores the stop request for a while, then finishes with its own state.
                std::this_thread::sleep_for(300ms);
                *state = writer.stopRequested() ? 1 : 2;
            },
            "thread failed");
        const auto before = std::chrono::steady_clock::now();
        pipe.stop(50ms);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 250ms);
    }
    for (int i = 0; i < 100 && *state == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(*state, 1);
}

TEST(DecodingPipe, NeverStartedPipeEndsCleanly) {
    DecodingPipe pipe("pipe failed");
    std::uint8_t byte;
    pipe.stop();
    EXPECT_EQ(pipe.read(&byte, 1), 0u);
}

// The given values of the dither, from a fresh state.
TEST(Mp3Dither, KnownFirstSamples) {
    struct Case {
        std::int32_t sample;
        std::int16_t pcm;
        std::int32_t error0;
    };
    const Case cases[] = {
        {1 << 28, 32767, 8191},   // +1.0 clips at the top
        {-(1 << 29), -32768, 0},  // -2.0 clips at the bottom
        {0, 1, -8192},            // bias 4096 plus the first random term 4959 pass 8191
    };
    for (const Case& c : cases) {
        Mp3Dither dither;
        EXPECT_EQ(dither.toPcm16(c.sample), c.pcm) << c.sample;
        EXPECT_EQ(dither.error(0), c.error0) << c.sample;
    }
}

TEST(Mp3Dither, ErrorFeedbackKeepsTheAverageOfAConstantSignal) {
    Mp3Dither dither;
    // 0.3 of a 16-bit step: the dithered output averages to it instead of rounding it away (the
    // error feedback takes the bias back out too).
    const std::int32_t sample = (1 << 13) * 3 / 10;
    double sum = 0;
    for (int i = 0; i < 100000; ++i)
        sum += dither.toPcm16(sample);
    EXPECT_NEAR(sum / 100000, 0.3, 0.02);
    // The history moves on: error[1] is half the previous error[0], error[2] the old error[1].
    const std::int32_t before0 = dither.error(0), before1 = dither.error(1);
    dither.toPcm16(sample);
    EXPECT_EQ(dither.error(1), before0 / 2);
    EXPECT_EQ(dither.error(2), before1);
}

}  // namespace
}  // namespace tolvane
