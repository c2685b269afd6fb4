// libFuzzer target: the WAV reader and its duration probe over arbitrary bytes.
#include <cstdint>

#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"
#include "pipeline/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInputFile file(data, size);
    tolvane::wavDuration(file.path());
    try {
        tolvane::CWavReader reader(file.path());
        exerciseReader(reader);
    } catch (const tolvane::ReaderException&) {
    }
    return 0;
}
