#include "pipeline/source_bounds.h"

#include "pipeline/app_exception.h"
#include "pipeline/reader.h"

namespace tolvane {

bool isDeliverableFormat(int rate, int channels, int bitsPerSample) {
    return channels >= SourceBounds::kMinChannels && channels <= SourceBounds::kMaxChannels &&
           rate >= SourceBounds::kMinRate && rate <= SourceBounds::kMaxRate &&
           (bitsPerSample == 8 || bitsPerSample == 16);
}

void requireDeliverableFormat(int rate, int channels, int bitsPerSample) {
    if (!isDeliverableFormat(rate, channels, bitsPerSample))
        throw ReaderException("cannot open file");
}

void requireDeliverableFormat(const CReader& reader) {
    requireDeliverableFormat(reader.sampleRate(), reader.channels(), reader.bitsPerSample());
}

}  // namespace tolvane
