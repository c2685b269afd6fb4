// libFuzzer target: the Ogg Vorbis reader over arbitrary bytes.
#include "decoders/ogg_reader.h"
#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInputFile file(data, size);
    try {
        tolvane::COggReader reader(file.path());
        exerciseReader(reader);
    } catch (const tolvane::ReaderException&) {
    }
    tolvane::oggDurationOf(file.path());
    return 0;
}
