// Feeds arbitrary bytes to kessin's input analysis as both WAV and AIFF; what parses goes on
// through mix-down, rate conversion and the SMAF writer.
#include <cstdint>
#include <vector>

#include "converter/pcm_buffer.h"
#include "converter/smaf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const bool aiff : {false, true}) {
        kessin::PcmBuffer pcm;
        if (pcm.analyse(aiff, data, size) != kessin::kAnalysisOk)
            continue;
        // Long inputs only cost time here; their parsing has already been exercised.
        if (pcm.info().frameCount > 20000)
            continue;
        pcm.downmix();
        if (pcm.resample(size % 2 ? 4000 : 8000, 256) != 0)
            continue;
        kessin::SmafOptions options;
        options.setText(
            kessin::SmafOptions::kTitleSlot,
            std::string_view(reinterpret_cast<const char*>(data), size < 300 ? size : 300));
        std::vector<std::uint8_t> image(size + 4096);
        kessin::encodeSmaf(pcm, options, image.data(), image.size());
    }
    return 0;
}
