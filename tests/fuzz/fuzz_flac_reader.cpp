// libFuzzer target: the FLAC reader (metadata, decoding thread, seek) over arbitrary bytes.
#include "decoders/flac_reader.h"
#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInputFile file(data, size);
    try {
        tolvane::CFLACReader reader(file.path());
        exerciseReader(reader);
    } catch (const tolvane::ReaderException&) {
    }
    tolvane::flacDurationOf(file.path());
    return 0;
}
