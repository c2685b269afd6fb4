// One source file of the job, with its marked part and the level analysis results.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

struct FileEntry {
    std::int32_t id = 0;        // unique, increasing; the Files page's row refers to it
    std::string path;           // full path of the source file
    std::int32_t fileType = 0;  // FileType 1..6
    std::int32_t duration = 0;  // whole seconds
    std::uint64_t size = 0;     // bytes, 0 when unknown
    bool partMarked = false;
    std::uint32_t partStart = 0;   // first second of the part
    std::uint32_t partLength = 0;  // whole seconds
    double levelRms = 0;           // loudest one-second RMS, fraction of full scale
    double levelPeak = 0;          // peak, fraction of full scale
    std::int32_t peakHigh = 0;
    std::int32_t peakLow = 0;
};

}  // namespace tolvane
