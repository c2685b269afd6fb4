#include "pipeline/read_ahead.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "pipeline/app_exception.h"
#include "pipeline/doubles.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Counts its reads and fails on the n-th one when asked to.
class CountingReader : public MemoryReader {
public:
    CountingReader(std::vector<std::uint8_t> pcm, int failOn = 0)
        : MemoryReader(std::move(pcm), 8000, 1, 16), failOn_(failOn) {}
    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered) override {
        if (++reads == failOn_)
            throw ReaderException("read error");
        return MemoryReader::read(buffer, count, delivered);
    }
    int reads = 0;

private:
    int failOn_;
};

std::vector<std::uint8_t> counting(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

// Everything the consumer gets, read by read.
std::vector<std::size_t> drain(ReadAhead& ahead, std::vector<std::uint8_t>& into) {
    std::vector<std::size_t> sizes;
    for (;;) {
        std::size_t delivered = 0;
        const std::uint8_t* data = ahead.next(delivered);
        sizes.push_back(delivered);
        if (delivered == 0)
            return sizes;
        into.insert(into.end(), data, data + delivered);
    }
}

TEST(ReadAhead, DeliversTheReadsTheConsumerWouldMakeInOrder) {
    struct Case {
        std::size_t bytes;
        std::int64_t reads;
        std::vector<std::size_t> sizes;  // what each next() delivers
        int readsMade;
    };
    for (const Case& c : {
             Case{1000, 100, {300, 300, 300, 100, 0}, 5},  // to the end, and the empty read
             Case{1000, 2, {300, 300, 0}, 2},              // no further than asked
             Case{1000, 0, {0}, 0},
         }) {
        const auto pcm = counting(c.bytes);
        CountingReader reader(pcm);
        std::vector<std::uint8_t> got;
        {
            ReadAhead ahead(reader, 300, c.reads);
            EXPECT_EQ(drain(ahead, got), c.sizes);
        }
        EXPECT_EQ(reader.reads, c.readsMade);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), pcm.begin()));
    }
}

TEST(ReadAhead, AFailedReadIsRethrownInItsPlace) {
    CountingReader reader(counting(3000), 3);
    ReadAhead ahead(reader, 300, 100);
    std::size_t delivered = 0;
    ahead.next(delivered);
    EXPECT_EQ(delivered, 300u);
    ahead.next(delivered);
    EXPECT_EQ(delivered, 300u);
    EXPECT_THROW(ahead.next(delivered), ReaderException);
    ahead.next(delivered);
    EXPECT_EQ(delivered, 0u);
    EXPECT_EQ(reader.reads, 3);
}

TEST(ReadAhead, AConsumerThatStopsEarlyStopsTheReads) {
    CountingReader reader(counting(1 << 20));
    {
        ReadAhead ahead(reader, 100, 1 << 20, 4);
        std::size_t delivered = 0;
        ahead.next(delivered);
    }
    // The thread keeps at most three reads ahead of the one handed out.
    EXPECT_LE(reader.reads, 4);
}

}  // namespace
