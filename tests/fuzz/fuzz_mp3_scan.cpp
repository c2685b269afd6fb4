// libFuzzer target: the MP3 scan and frame decoding over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/mp3_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader's mapping ends the data with zero bytes; so does this copy.
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.resize(size + tolvane::kMp3Guard, 0);
    const tolvane::Mp3Scan scan = tolvane::scanMp3(bytes.data(), size);
    if (!scan.usable())
        return 0;
    tolvane::Mp3FrameDecoder decoder(bytes.data(), size, scan.channels);
    std::vector<std::int16_t> pcm;
    for (int frames = 0; frames < 64 && decoder.next(pcm); ++frames)
        pcm.clear();
    if (scan.frames.size() > 1) {
        decoder.restartAt(scan.frames[scan.frames.size() / 2].offset);
        while (decoder.next(pcm))
            pcm.clear();
    }
    return 0;
}
