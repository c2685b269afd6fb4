#include "pipeline/pcm_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "pipeline/app_exception.h"
#include "pipeline/doubles.h"
#include "pipeline/replaying_reader.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20;

std::vector<std::uint8_t> noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

struct StoreCase {
    const char* name;
    std::size_t memoryLimit;
    std::size_t bytes;
    std::size_t piece;  // appended in pieces of this size (the analysis appends 10 ms blocks)
    bool spills;
};

class PcmStoreTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(PcmStoreTest, GivesBackEveryByteAtAnyOffsetInMemoryOrSpilled) {
    const StoreCase& c = GetParam();
    TempDir dir;
    const auto bytes = noise(c.bytes, 7);
    PcmStore store(c.memoryLimit, dir.path().string());
    for (std::size_t at = 0; at < bytes.size(); at += c.piece)
        ASSERT_TRUE(store.append(bytes.data() + at, std::min(c.piece, bytes.size() - at)));
    EXPECT_EQ(store.size(), bytes.size());
    EXPECT_EQ(store.spilled(), c.spills);
    EXPECT_TRUE(fs::is_empty(dir.path()));  // a spill file never has a name

    // Reads that start and end anywhere: inside a chunk, across chunks, across the file's end
    // and the memory after it, past the end.
    std::mt19937 random(3);
    for (int i = 0; i < 200; ++i) {
        const std::size_t offset = random() % (bytes.size() + 10);
        const std::size_t size = random() % (3 * kMiB);
        std::vector<std::uint8_t> out(size);
        const std::size_t got = store.readAt(offset, out.data(), size);
        const std::size_t expected =
            offset < bytes.size() ? std::min(size, bytes.size() - offset) : 0;
        ASSERT_EQ(got, expected) << "offset " << offset << " size " << size;
        ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(got),
                               bytes.begin() + static_cast<long>(std::min(offset, bytes.size()))))
            << "offset " << offset << " size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PcmStoreTest,
    ::testing::Values(StoreCase{"InMemory", 64 * kMiB, 3 * kMiB + 1234, 1764, false},
                      StoreCase{"SpilledFromTheFirstByte", 0, 2 * kMiB + 17, 4000, true},
                      StoreCase{"SpilledHalfWay", kMiB + kMiB / 2, 5 * kMiB + 333, 1764, true},
                      StoreCase{"WholeChunksOnly", kMiB, 4 * kMiB, kMiB, true},
                      StoreCase{"OneHugeAppend", 2 * kMiB, 7 * kMiB + 5, 7 * kMiB + 5, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PcmStoreSpillFile, IsOpenOnlyWhileTheStoreLivesAndNeverNamed) {
    TempDir dir;
    const auto bytes = noise(3 * kMiB, 1);
    {
        PcmStore store(kMiB, dir.path().string());
        ASSERT_TRUE(store.append(bytes.data(), bytes.size()));
        EXPECT_TRUE(store.spilled());
        EXPECT_EQ(openFilesIn(dir.path()), 1);
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
    EXPECT_EQ(openFilesIn(dir.path()), 0);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(PcmStoreSpillFile, WithoutAPlaceForItTheStoreFailsAndTakesNothingMore) {
    TempDir dir;
    const auto bytes = noise(kMiB, 2);
    for (const std::string& folder : {std::string(), dir.file("missing")}) {
        PcmStore store(1000, folder);
        EXPECT_TRUE(store.append(bytes.data(), 1000)) << folder;
        EXPECT_FALSE(store.append(bytes.data(), 1)) << folder;
        EXPECT_TRUE(store.failed());
        EXPECT_FALSE(store.append(bytes.data(), 1)) << folder;
    }
}

// 1 s of 8 kHz mono 16-bit noise per 16000 bytes.
constexpr int kRate = 8000;
constexpr std::size_t kSecond = 2 * kRate;

std::unique_ptr<MemoryReader> source(const std::vector<std::uint8_t>& pcm) {
    return std::make_unique<MemoryReader>(pcm, kRate, 1, 16);
}

// What a reader delivers in reads of `piece` bytes until it ends or `limit` bytes are read.
std::vector<std::uint8_t> drain(CReader& reader, std::size_t piece, std::size_t limit = SIZE_MAX) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> buffer(piece);
    while (out.size() < limit) {
        const std::size_t got = reader.read(buffer.data(), std::min(piece, limit - out.size()));
        if (got == 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
    }
    return out;
}

struct ReplayCase {
    const char* name;
    std::size_t memoryLimit;
    std::size_t analysed;  // bytes the first pass reads
    std::size_t kept;      // keepBytes
    std::size_t expected;  // bytes the replay delivers
};

class ReplayingReaderTest : public ::testing::TestWithParam<ReplayCase> {};

TEST_P(ReplayingReaderTest, TheSecondPassReadsTheSameBytesWithoutTheSourceStartingAgain) {
    const ReplayCase& c = GetParam();
    TempDir dir;
    const auto pcm = noise(10 * kSecond, 5);
    auto inner = source(pcm);
    const MemoryReader* watched = inner.get();
    CReplayingReader reader(std::move(inner),
                            std::make_unique<PcmStore>(c.memoryLimit, dir.path().string()), c.kept);
    EXPECT_EQ(drain(reader, 160, c.analysed).size(), c.analysed);  // 10 ms blocks
    ASSERT_TRUE(reader.replayable());

    reader.replay();
    const auto replayed = drain(reader, kSecond);  // one-second reads, as the conversion makes
    ASSERT_EQ(replayed.size(), c.expected);
    EXPECT_TRUE(std::equal(replayed.begin(), replayed.end(), pcm.begin()));
    // The source was read once, front to back, and never rewound.
    EXPECT_EQ(watched->position(), std::max(c.analysed, c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Passes, ReplayingReaderTest,
    ::testing::Values(
        // The whole source analysed and kept: the replay ends where the source does.
        ReplayCase{"WholeSource", 64 * kMiB, 10 * kSecond, SIZE_MAX, 10 * kSecond},
        ReplayCase{"WholeSourceSpilled", 1000, 10 * kSecond, SIZE_MAX, 10 * kSecond},
        // Measured on its first 3 s, fed 4: the replay goes on in the source after the store.
        ReplayCase{"GoesOnInTheSource", 64 * kMiB, 3 * kSecond, 4 * kSecond, 10 * kSecond},
        ReplayCase{"GoesOnInTheSourceSpilled", 1000, 3 * kSecond, 4 * kSecond, 10 * kSecond},
        // Analysed to the end but only 4 s can be used: only those are kept, and the replay
        // ends after them since the source has moved on.
        ReplayCase{"KeepsOnlyWhatTheConversionUses", 64 * kMiB, 10 * kSecond, 4 * kSecond,
                   4 * kSecond}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplayingReader, AStoreThatCannotKeepTheBytesIsNotReplayable) {
    const auto pcm = noise(4 * kSecond, 9);
    CReplayingReader reader(source(pcm), std::make_unique<PcmStore>(kSecond, ""), SIZE_MAX);
    drain(reader, 160);
    EXPECT_FALSE(reader.replayable());
}

TEST(ReplayingReader, ARepositionedFirstPassIsNotReplayable) {
    const auto pcm = noise(4 * kSecond, 9);
    CReplayingReader reader(source(pcm), std::make_unique<PcmStore>(kMiB, ""), SIZE_MAX);
    drain(reader, 160, kSecond);
    reader.seek(2);
    EXPECT_FALSE(reader.replayable());
}

TEST(ReplayingReader, SeekAndTellDuringTheReplayCountFromTheSourcesStart) {
    TempDir dir;
    const auto pcm = noise(10 * kSecond, 11);
    auto inner = source(pcm);
    inner->seek(2);  // opened at a marked part's start
    CReplayingReader reader(std::move(inner), std::make_unique<PcmStore>(kMiB, ""), SIZE_MAX);
    EXPECT_EQ(reader.tell(), 2);
    drain(reader, 160, 4 * kSecond);  // seconds 2..5 kept
    reader.replay();
    EXPECT_EQ(reader.tell(), 2);
    drain(reader, kSecond, kSecond);
    EXPECT_EQ(reader.tell(), 3);

    reader.seek(4);  // inside the store
    EXPECT_EQ(reader.tell(), 4);
    auto got = drain(reader, kSecond, kSecond);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + 4 * kSecond));

    reader.seek(8);  // beyond it: the source itself
    EXPECT_EQ(reader.tell(), 8);
    got = drain(reader, kSecond);
    ASSERT_EQ(got.size(), 2 * kSecond);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin() + 8 * kSecond));
    EXPECT_EQ(reader.length(), 10);
}

TEST(ReplayingReader, DeliversWholeFramesAsEverySourceDoes) {
    const auto pcm = noise(kSecond, 13);
    auto inner = std::make_unique<MemoryReader>(pcm, kRate, 2, 16);  // 4-byte frames
    CReplayingReader reader(std::move(inner), std::make_unique<PcmStore>(kMiB, ""), SIZE_MAX);
    drain(reader, 160);
    reader.replay();
    std::vector<std::uint8_t> buffer(10);
    EXPECT_EQ(reader.read(buffer.data(), 10), 8u);
}

}  // namespace
