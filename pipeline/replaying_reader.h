// A source read twice but decoded once. The level analysis reads the source through this reader,
// which keeps what it delivers (up to the bytes the conversion can use); after replay() the
// conversion reads the same bytes again from the kept copy and, when it asks for more than was
// kept, goes on in the source from where the analysis stopped.
#pragma once

#include <cstdint>
#include <memory>

#include "pipeline/pcm_store.h"
#include "pipeline/reader.h"

namespace tolvane {

class CReplayingReader : public CReader {
public:
    // Reads from `source` and keeps up to `keepBytes` of what it delivers in `store`.
    CReplayingReader(std::unique_ptr<CReader> source, std::unique_ptr<PcmStore> store,
                     std::uint64_t keepBytes);

    // The next read starts again at the first byte the source delivered. Only the first call
    // switches; later ones rewind.
    void replay();
    // True while a replay can deliver everything the first pass read: the store has not failed
    // and the first pass was not repositioned.
    bool replayable() const { return replayable_; }
    // True when the bytes live in the store's spill file (for the tests and the benchmarks).
    bool spilled() const { return store_->spilled(); }

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override { return source_->length(); }

private:
    std::size_t readFromSource(std::uint8_t* buffer, std::size_t count);
    std::uint64_t bytesPerSecond() const;

    std::unique_ptr<CReader> source_;
    std::unique_ptr<PcmStore> store_;
    std::uint64_t keepBytes_;
    int startSecond_;
    bool replaying_ = false;
    bool replayable_ = true;
    // First pass: every byte the source delivered is in the store, so the source stands right
    // after the store's last byte and a replay may go on in it.
    bool sourceFollowsStore_ = true;
    // Replay: the next byte from the store; at its end, the source takes over.
    std::uint64_t position_ = 0;
    bool inSource_ = false;
};

}  // namespace tolvane
