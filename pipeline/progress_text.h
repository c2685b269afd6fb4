// The Progress page's extra lines: which file of the run is being converted, and how long the
// run will still take once that can be estimated. Qt-free; the page feeds them from the worker's
// progress notifications.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// "File 2 of 5"; empty when there is nothing to count. `started` is capped at `total`.
std::string fileCountText(int started, int total);

// Seconds the run still needs, from the time it has run and its overall percentage; none until
// the estimate means something (the first few percent and seconds say little about the rest)
// and none once the run is complete.
std::optional<std::int64_t> estimateSecondsLeft(std::int64_t elapsedMs, int percent);

// "A few seconds left", "About 40 seconds left", "About 3 minutes left", "About 1 h 05 min left".
std::string timeLeftText(std::int64_t secondsLeft);

}  // namespace tolvane
