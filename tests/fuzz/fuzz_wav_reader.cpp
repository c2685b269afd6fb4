// Feeds arbitrary bytes to the WAV reader and its duration probe as a file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "pipeline/app_exception.h"
#include "pipeline/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/fuzz-wav-" + std::to_string(getpid()) + ".wav";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    tolvane::durationOf(path);
    try {
        auto reader = tolvane::openReaderAt(path, size % 3);
        std::uint8_t buffer[4096];
        int rounds = 0;
        while (reader->read(buffer, sizeof buffer) > 0 && ++rounds < 64) {
        }
        reader->seek(1);
        reader->tell();
        reader->length();
    } catch (const tolvane::AppException&) {
    }
    return 0;
}
