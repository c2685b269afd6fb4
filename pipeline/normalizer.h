// Loudness: the level analysis of the audio to convert and the gain stage that brings its
// loudest second to -12 dB of full scale, bending peaks with a soft knee instead of clipping.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "pipeline/file_entry.h"
#include "pipeline/reader.h"

namespace tolvane {

// 10^(-12/20): the target RMS level as a fraction of full scale.
constexpr double kTargetLevel = 0.251188643150958;

// Called after every 10 ms block of the analysis (the worker updates its file bar there).
using AnalysisProgress = std::function<void()>;

// Reads `reader` to its end, or exactly the entry's marked part, and writes the entry's four
// level fields. Stops after the current block once `cancel` is set.
void analyseLevel(CReader& reader, FileEntry& entry, const std::atomic<bool>* cancel = nullptr,
                  const AnalysisProgress& progress = {});

// The reader itself when `gain` is within 1/8 dB of unity, else a CNormalizer owning it.
std::unique_ptr<CReader> wrapWithNormalizer(std::unique_ptr<CReader> reader, const FileEntry& entry,
                                            double gain);

// The gain stage; seek, tell and length are the inner reader's.
class CNormalizer : public CReader {
public:
    // ReaderException "Internal error #392" without a reader.
    CNormalizer(std::unique_ptr<CReader> inner, double gain, const FileEntry& levels);

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override { inner_->seek(second); }
    int tell() override { return inner_->tell(); }
    int length() override { return inner_->length(); }

    double gain() const { return gain_; }
    double levelRms() const { return levelRms_; }
    double levelPeak() const { return levelPeak_; }
    bool usesSoftClip() const { return softClip_; }

private:
    std::int32_t process(std::int32_t sample) const;

    std::unique_ptr<CReader> inner_;
    double gain_;
    double levelRms_;
    double levelPeak_;
    std::int32_t peakHigh_;
    std::int32_t peakLow_;
    bool softClip_ = false;
    std::int32_t maximum_;
    std::int32_t minimum_;
    // process() of every possible sample, indexed by the sample's stored bits (65536 entries for
    // 16-bit audio, 256 for 8-bit): the gain is fixed, so each sample costs one lookup.
    std::vector<std::uint16_t> table_;
};

// x inside [-0.5, 0.5]; a tanh knee beyond, continuous with slope 1, never reaching +-1.
double softClip(double x);

}  // namespace tolvane
