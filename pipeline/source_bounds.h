// The formats a source may have. Headers are read from files a user picked, and a damaged or
// hostile header may claim 65535 channels or a rate of 1 Hz; every size the pipeline derives
// from them (the one-second buffer, the ringtone's length) would then be absurd. A source outside
// these bounds is refused as "cannot open file" before anything is sized by its format.
#pragma once

namespace tolvane {

class CReader;

struct SourceBounds {
    static constexpr int kMinChannels = 1;
    static constexpr int kMaxChannels = 8;
    static constexpr int kMinRate = 1000;
    static constexpr int kMaxRate = 384000;
};

// True when a decoded stream of this format can be taken by the pipeline: channels and rate in
// SourceBounds, 8- or 16-bit samples.
bool isDeliverableFormat(int rate, int channels, int bitsPerSample);

// ReaderException "cannot open file" unless isDeliverableFormat(rate, channels, bits).
void requireDeliverableFormat(int rate, int channels, int bitsPerSample);
// The same for a reader that has read its source's format.
void requireDeliverableFormat(const CReader& reader);

}  // namespace tolvane
