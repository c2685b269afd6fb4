#include "pipeline/progress_text.h"

#include <algorithm>

namespace tolvane {

namespace {

// Below these the rate of the first files says too little about the rest of the run.
constexpr int kMinPercent = 3;
constexpr std::int64_t kMinElapsedMs = 2000;

std::string plural(std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

}  // namespace

std::string fileCountText(int started, int total) {
    if (total <= 0 || started <= 0)
        return {};
    return "File " + std::to_string(std::min(started, total)) + " of " + std::to_string(total);
}

std::optional<std::int64_t> estimateSecondsLeft(std::int64_t elapsedMs, int percent) {
    if (percent < kMinPercent || percent >= 100 || elapsedMs < kMinElapsedMs)
        return std::nullopt;
    const std::int64_t leftMs = elapsedMs * (100 - percent) / percent;
    return (leftMs + 999) / 1000;
}

std::string timeLeftText(std::int64_t secondsLeft) {
    if (secondsLeft < 10)
        return "A few seconds left";
    if (secondsLeft < 60) {
        // Steps of five seconds: a count that jumps by one every second reads as noise.
        const std::int64_t rounded = (secondsLeft + 4) / 5 * 5;
        return "About " + plural(rounded, "second") + " left";
    }
    const std::int64_t minutes = (secondsLeft + 30) / 60;
    if (minutes < 60)
        return "About " + plural(minutes, "minute") + " left";
    const std::int64_t hours = minutes / 60;
    const std::int64_t rest = minutes % 60;
    return "About " + std::to_string(hours) + " h " + (rest < 10 ? "0" : "") +
           std::to_string(rest) + " min left";
}

}  // namespace tolvane
