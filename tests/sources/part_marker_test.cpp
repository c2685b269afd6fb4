#include <gtest/gtest.h>

#include "sources/part_marker.h"
#include "scripted_player.h"

using namespace tolvane;
using namespace tolvane::pages;
using tolvane::test::ScriptedPlayer;

namespace {

class PartMarkerTest : public ::testing::Test {
protected:
    PartMarkerTest() {
        FileEntry entry;
        entry.path = "/music/song.wav";
        entry.duration = 30;
        id_ = files_.add(entry).id;
    }
    FileEntry& entry() { return *files_.find(id_); }

    FileList files_;
    std::int32_t id_ = 0;
    ScriptedPlayer player_;
    PartMarker marker_{[this]() -> MarkerPlayer& { return player_; }};
};

TEST_F(PartMarkerTest, StartAndEndMarkWholeSecondsWithTheEndIncluded) {
    marker_.press(files_, id_);
    EXPECT_EQ(marker_.state(), PartMarker::WaitingForStart);
    EXPECT_EQ(player_.opened, "/music/song.wav");
    EXPECT_EQ(player_.plays, 1);
    EXPECT_TRUE(marker_.isPlaying(id_));

    player_.at = 12;
    marker_.press(files_, std::nullopt);
    EXPECT_EQ(marker_.state(), PartMarker::WaitingForEnd);
    EXPECT_TRUE(entry().partMarked);
    EXPECT_EQ(entry().partStart, 12u);

    player_.at = 17;
    marker_.press(files_, std::nullopt);
    EXPECT_EQ(marker_.state(), PartMarker::Idle);
    EXPECT_EQ(entry().partStart, 12u);
    EXPECT_EQ(entry().partLength, 6u);
    EXPECT_EQ(player_.stops, 1);
}

TEST_F(PartMarkerTest, NothingHappensWithoutASelection) {
    marker_.press(files_, std::nullopt);
    EXPECT_TRUE(marker_.idle());
    EXPECT_EQ(player_.plays, 0);
}

TEST_F(PartMarkerTest, AFailedOpenLeavesTheMarkerIdle) {
    player_.openFailure = "cannot open file";
    EXPECT_THROW(marker_.press(files_, id_), ReaderException);
    EXPECT_TRUE(marker_.idle());
    EXPECT_FALSE(entry().partMarked);
}

TEST_F(PartMarkerTest, PlaybackRunningOutWhileWaitingForTheStartLeavesTheEntry) {
    entry().partMarked = true;
    entry().partStart = 4;
    entry().partLength = 3;
    marker_.press(files_, id_);
    EXPECT_TRUE(marker_.tick(files_));  // still playing
    player_.at = 30;
    player_.running = false;
    EXPECT_FALSE(marker_.tick(files_));
    EXPECT_TRUE(marker_.idle());
    EXPECT_EQ(entry().partStart, 4u);
    EXPECT_EQ(entry().partLength, 3u);
}

TEST_F(PartMarkerTest, PlaybackRunningOutWhileWaitingForTheEndMarksTheLastPosition) {
    marker_.press(files_, id_);
    player_.at = 25;
    marker_.press(files_, std::nullopt);
    player_.at = 30;
    player_.running = false;
    EXPECT_FALSE(marker_.tick(files_));
    EXPECT_EQ(entry().partStart, 25u);
    EXPECT_EQ(entry().partLength, 6u);
}

TEST_F(PartMarkerTest, AnEndBeforeTheStartBecomesOneSecondAtTheEnd) {
    marker_.press(files_, id_);
    player_.at = 20;
    marker_.press(files_, std::nullopt);
    marker_.seekAt(100, 0, 1000);  // back to second 3
    ASSERT_EQ(player_.seeks.back(), 3);
    player_.at = 5;
    marker_.press(files_, std::nullopt);
    EXPECT_EQ(entry().partStart, 5u);
    EXPECT_EQ(entry().partLength, 1u);
}

TEST_F(PartMarkerTest, AClickSeeksInProportionAndStopsTwoSecondsBeforeTheEnd) {
    marker_.press(files_, id_);
    const struct {
        int x;
        int second;
    } cases[] = {{6, 0}, {106, 15}, {56, 7}, {206, 28}, {199, 28}, {0, 0}, {500, 28}};
    for (const auto& c : cases) {
        marker_.seekAt(c.x, 6, 206);
        EXPECT_EQ(player_.seeks.back(), c.second) << "x = " << c.x;
    }
    player_.seconds = 1;  // shorter than the two seconds kept free
    marker_.seekAt(206, 6, 206);
    EXPECT_EQ(player_.seeks.back(), 0);
}

TEST_F(PartMarkerTest, CompletingForTheRemovedEntryMarksItAtTheCurrentSecond) {
    marker_.press(files_, id_);
    player_.at = 8;
    marker_.completeFor(files_, id_ + 1);  // another entry: nothing changes
    EXPECT_EQ(marker_.state(), PartMarker::WaitingForStart);
    marker_.completeFor(files_, id_);
    EXPECT_TRUE(marker_.idle());
    EXPECT_EQ(entry().partStart, 8u);
    EXPECT_EQ(entry().partLength, 1u);
    EXPECT_EQ(player_.stops, 1);
}

}  // namespace
