// An encoder that stands in front of another and converts the PCM it is given from the source's
// format to the one the inner encoder accepts: rate (windowed-sinc interpolation with a table of
// fractional phases), channels (one or two) and width (8 or 16 bits).
#pragma once

#include <memory>
#include <vector>

#include "pipeline/encoder.h"
#include "pipeline/fifo_buffer.h"
#include "pipeline/pcm_format.h"

namespace tolvane {

struct ResampleState {
    static constexpr std::size_t kFifoBytes = 524288;
    static constexpr int kMaxPhaseRows = 641;

    PcmFormat source;
    PcmFormat target;
    FifoBuffer input{kFifoBytes};
    FifoBuffer output{kFifoBytes};
    double ratio = 1.0;  // source rate / target rate
    bool tableBuilt = false;
    int filterLength = 0;  // L (31 or 32); taps = L + 1
    int bpc = 0;           // phases per side: rows = 2 * bpc + 1
    double cutoff = 1.0;
    std::vector<float> history[2];
    std::vector<std::vector<float>> phases;
    double timeOffset[2] = {0.0, 0.0};
};

class CResamplingFilter : public CEncoder {
public:
    // Takes ownership of `inner` (destroyed also when construction fails).
    CResamplingFilter(std::unique_ptr<CEncoder> inner, const PcmFormat& source,
                      const PcmFormat& target);

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    void finish() override;
    void setCancelFlag(const std::atomic<bool>* cancel) override {
        CEncoder::setCancelFlag(cancel);
        inner_->setCancelFlag(cancel);
    }

    CEncoder& inner() { return *inner_; }
    const ResampleState& state() const { return state_; }

private:
    void push(const std::uint8_t* data, std::size_t count);
    void makeRoom();
    bool convertBlock();
    void buildTable();
    // Splits `frames` interleaved frames into the channel buffers, each after its history.
    void splitChannels(const std::uint8_t* raw, int frames, int historyLength);
    // Converts the block's `frames` new samples of the `Count` channels from `first` on, which
    // share one time offset; returns the frames produced.
    template <int Count>
    int convertChannels(int first, int frames);
    // One pass of the converter over channels first..first+Count-1 from `at` in their joined
    // buffers (the samples before `at` serve as history): returns produced, sets `used`.
    template <int Count>
    int convertPass(int first, int at, int len, int outAt, int wanted, int& used);
    // Mixes and narrows `produced` converted frames into the target format, into bytes_.
    std::size_t formatOutput(int produced);
    void drainOutput();

    std::unique_ptr<CEncoder> inner_;
    ResampleState state_;
    std::size_t inBlockBytes_;
    std::size_t outBlockBytes_;
    // Per source channel: the history followed by the current block, so that the converter
    // reads one contiguous array without a branch per tap, and the converted block. Sized once.
    std::vector<std::uint8_t> raw_;  // one block of source frames
    std::vector<float> joined_[2];
    std::vector<float> converted_[2];
    std::vector<std::uint8_t> bytes_;  // one converted block in the target format
};

}  // namespace tolvane
