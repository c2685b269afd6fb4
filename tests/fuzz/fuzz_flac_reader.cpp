// libFuzzer target: the FLAC reader (metadata, decoding thread, seek) over arbitrary bytes.
#include <vector>

#include "decoders/flac_reader.h"
#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInputFile file(data, size);
    try {
        tolvane::CFLACReader reader(file.path());
        std::vector<std::uint8_t> buffer(16384);
        int pieces = 0;
        while (reader.read(buffer.data(), buffer.size()) > 0 && ++pieces < 64) {
        }
        reader.seek(1);
        reader.read(buffer.data(), buffer.size());
        reader.tell();
    } catch (const tolvane::ReaderException&) {
    }
    tolvane::flacDurationOf(file.path());
    return 0;
}
