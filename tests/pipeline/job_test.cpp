#include "pipeline/job.h"

#include <gtest/gtest.h>

#include "platform/paths.h"

using namespace tolvane;

namespace {

TEST(FileListTest, IdsStartAtOneAndAreNeverReused) {
    FileList list;
    FileEntry e;
    e.id = 77;  // ignored: the list numbers its entries
    EXPECT_EQ(list.add(e).id, 1);
    EXPECT_EQ(list.add(e).id, 2);
    EXPECT_TRUE(list.remove(2));
    EXPECT_FALSE(list.remove(2));
    EXPECT_EQ(list.add(e).id, 3);
    EXPECT_EQ(list.find(3)->id, 3);
    EXPECT_EQ(list.find(2), nullptr);
    EXPECT_EQ(list.size(), 2u);
}

TEST(JobProgressTest, PercentagesUseIntegerDivisionAndStayInRange) {
    struct Case {
        std::int64_t done, total;
        int percent;
    };
    for (const Case c : {Case{0, 10, 0}, Case{1, 3, 33}, Case{2, 3, 66}, Case{3, 3, 100},
                         Case{7, 3, 100}, Case{-2, 3, 0}, Case{5, 0, 0}, Case{5, -4, 0}}) {
        EXPECT_EQ(percentOf(c.done, c.total), c.percent) << c.done << "/" << c.total;
    }
}

TEST(JobProgressTest, WorkIsThePartWhenMarkedAndNeverLessThanOneSecondForAPart) {
    auto entry = [](int duration, bool marked, std::uint32_t length) {
        FileEntry e;
        e.duration = duration;
        e.partMarked = marked;
        e.partLength = length;
        return e;
    };
    EXPECT_EQ(workSeconds(entry(180, false, 0)), 180);
    EXPECT_EQ(workSeconds(entry(180, true, 25)), 25);
    EXPECT_EQ(workSeconds(entry(180, true, 0)), 1);
    EXPECT_EQ(workSeconds(entry(180, true, static_cast<std::uint32_t>(-5))), 1);
    EXPECT_EQ(workSeconds(entry(-3, false, 0)), 0);

    FileList list;
    list.add(entry(180, false, 0));
    list.add(entry(60, true, 10));
    EXPECT_EQ(totalWorkSeconds(list), 190);
}

TEST(JobPathsTest, RingtonePathsReplaceTheLastExtension) {
    struct Case {
        const char* source;
        const char* extension;
        const char* ringtone;
    };
    for (const Case c : {Case{"/music/song.mp3", ".amr", "/out/song.amr"},
                         Case{"/music/my.song.flac", ".wav", "/out/my.song.wav"},
                         Case{"/music/noext", ".qcp", "/out/noext.qcp"},
                         Case{"/music.d/noext", ".mmf", "/out/noext.mmf"},
                         Case{"relative.WAV", ".wav", "/out/relative.wav"}}) {
        EXPECT_EQ(ringtonePathFor("/out/", c.source, c.extension), c.ringtone) << c.source;
    }
}

TEST(JobPathsTest, TheOutputFolderEndsInASlash) {
    EXPECT_EQ(outputFolderFor(1, "/home/u/My Ringtones"), "/home/u/My Ringtones/");
    EXPECT_EQ(outputFolderFor(1, "/already/"), "/already/");
    EXPECT_EQ(outputFolderFor(1, ""), "");
    EXPECT_EQ(outputFolderFor(0, "/ignored"), platform::temporaryFolder());
    EXPECT_EQ(outputFolderFor(0, "/ignored").back(), '/');
}

}  // namespace
