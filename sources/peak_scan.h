// The waveform of a source file as the part editor draws it: the file is decoded once and each
// of a fixed number of columns keeps the lowest and highest sample that falls into it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::pages {

struct PeakColumn {
    float low = 0;   // -1..0 of full scale
    float high = 0;  // 0..1
};

struct Waveform {
    std::vector<PeakColumn> columns;
    std::int64_t durationMs = 0;  // the decoded length
};

// Decodes `path` (any source the wizard reads) to its end and folds it into `columns` columns
// over its whole duration. ReaderException passes on; an empty Waveform when `cancel` is set
// before the end.
Waveform scanPeaks(const std::string& path, std::size_t columns,
                   const std::atomic<bool>* cancel = nullptr);

}  // namespace tolvane::pages
