// The Progress page's "File n of m" line and its estimate of the time left.
#include <gtest/gtest.h>

#include "pipeline/progress_text.h"

using namespace tolvane;

TEST(ProgressTextTest, FileCount) {
    const struct {
        int started, total;
        const char* text;
    } cases[] = {
        {1, 1, "File 1 of 1"},
        {2, 5, "File 2 of 5"},
        {7, 5, "File 5 of 5"},  // capped
        {0, 5, ""},
        {1, 0, ""},
        {-1, 3, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileCountText(c.started, c.total), c.text) << c.started << " of " << c.total;
}

TEST(ProgressTextTest, EstimateWaitsForEnoughWorkAndStopsAtTheEnd) {
    const struct {
        std::int64_t elapsedMs;
        int percent;
        std::optional<std::int64_t> left;
    } cases[] = {
        {500, 50, std::nullopt},     // too early to say
        {60000, 2, std::nullopt},    // too little done to say
        {60000, 100, std::nullopt},  // done
        {60000, 0, std::nullopt},
        {10000, 50, 10},
        {10000, 25, 30},
        {3000, 3, 97},
        {2001, 99, 1},  // rounded up: never "0 left" while work remains
    };
    for (const auto& c : cases)
        EXPECT_EQ(estimateSecondsLeft(c.elapsedMs, c.percent), c.left)
            << c.elapsedMs << " ms at " << c.percent << "%";
}

TEST(ProgressTextTest, TimeLeftWording) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "A few seconds left"},
        {9, "A few seconds left"},
        {10, "About 10 seconds left"},
        {41, "About 45 seconds left"},
        {59, "About 60 seconds left"},
        {60, "About 1 minute left"},
        {89, "About 1 minute left"},
        {90, "About 2 minutes left"},
        {3569, "About 59 minutes left"},
        {3570, "About 1 h 00 min left"},
        {3600 + 5 * 60, "About 1 h 05 min left"},
        {10 * 3600 + 42 * 60, "About 10 h 42 min left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timeLeftText(c.seconds), c.text) << c.seconds << " s";
}
