// Fades: the ringtone's first moments rise from silence and its last moments fall to silence, so
// that a part cut from the middle of a song neither starts nor stops with a click.
//
// The fade stage comes after the level stage: the gain is chosen on the unfaded audio, so the
// loudest second keeps its level wherever no fade touches it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "pipeline/reader.h"

namespace tolvane {

// The wizard's two fade lengths, in milliseconds.
inline constexpr std::uint32_t kWizardFadeInMs = 500;
inline constexpr std::uint32_t kWizardFadeOutMs = 1500;
// Longest fade the stage accepts (one minute); longer requests are shortened to it.
inline constexpr std::uint32_t kMaxFadeMs = 60000;

struct FadeLengths {
    std::uint32_t inMs = 0;
    std::uint32_t outMs = 0;
    bool any() const { return inMs > 0 || outMs > 0; }
};

// The reader itself when no fade is asked for (the ringtone stays byte for byte as without this
// stage), else a CFader owning it. `limitFrames` ends the stream after that many frames (a marked
// part); without it the stream ends where the source does.
std::unique_ptr<CReader> wrapWithFades(std::unique_ptr<CReader> reader, FadeLengths fades,
                                       std::optional<std::int64_t> limitFrames = std::nullopt);

// Linear fades over 8-bit (unsigned) or 16-bit (signed little-endian) PCM; other sample widths
// pass through. The fade-out needs the end of the stream before it can start, so the stage holds
// back the last fade-out's worth of audio and releases it, faded, once the source has ended.
class CFader : public CReader {
public:
    // ReaderException "Internal error #392" without a reader.
    CFader(std::unique_ptr<CReader> inner, FadeLengths fades,
           std::optional<std::int64_t> limitFrames);

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    // Starts over at `second` of the source: the fade-in begins again there.
    void seek(int second) override;
    int tell() override { return inner_->tell(); }
    int length() override { return inner_->length(); }

private:
    // Reads from the source until `wanted` bytes are held or the source (or the limit) has ended.
    void fill(std::size_t wanted);
    void applyFadeOut();
    void applyFadeIn(std::uint8_t* bytes, std::size_t frames);
    void scaleFrame(std::uint8_t* frame, double gain) const;

    std::unique_ptr<CReader> inner_;
    std::int64_t fadeInFrames_ = 0;
    std::int64_t fadeOutFrames_ = 0;
    std::optional<std::int64_t> limitFrames_;
    std::size_t frameBytes_ = 0;
    std::vector<std::uint8_t> held_;  // read from the source, not yet delivered
    std::int64_t framesRead_ = 0;     // taken from the source since the start (or the last seek)
    std::int64_t framesOut_ = 0;      // delivered since the start (or the last seek)
    bool ended_ = false;
    bool sampleWidthKnown_ = false;
};

}  // namespace tolvane
