#include <gtest/gtest.h>

#include <filesystem>

#include "decoders/source_types.h"
#include "pages/file_adding.h"
#include "pipeline/app_exception.h"
#include "pipeline/reader.h"
#include "support/test_support.h"

namespace tolvane::pages {
namespace {

using tolvane::test::TempDir;

TEST(AddSourceFiles, RefusedFilesBecomeOneWarningLineEachAndTheOthersAreAdded) {
    TempDir dir;
    ASSERT_TRUE(tolvane::test::makeTone(dir.file("a.wav"), 8000, 1, 16, 3.0));
    tolvane::test::writeFile(dir.file("text.wav"), {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    tolvane::test::writeFile(dir.file("cover.jpg"), {0xff, 0xd8});
    std::filesystem::create_directories(dir.file("folder.wav"));

    FileList files;
    const std::vector<std::string> paths{dir.file("a.wav"), dir.file("text.wav"),
                                         dir.file("cover.jpg"), dir.file("folder.wav"),
                                         dir.file("a.wav")};
    AddResult byName = addSourceFiles(files, paths, WarningName::FileName);
    EXPECT_EQ(byName.warnings, "text.wav: broken file.\ncover.jpg: unknown file type.\n");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(byName.addedIds, (std::vector<std::int32_t>{1, 2}));
    const FileEntry& entry = files.entries()[0];
    EXPECT_EQ(entry.path, dir.file("a.wav"));
    EXPECT_EQ(entry.fileType, kFileWav);
    EXPECT_EQ(entry.duration, 3);
    EXPECT_EQ(entry.size, std::filesystem::file_size(dir.file("a.wav")));
    EXPECT_FALSE(entry.partMarked);

    AddResult byPath = addSourceFiles(files, {dir.file("text.wav")}, WarningName::FullPath);
    EXPECT_EQ(byPath.warnings, dir.file("text.wav") + ": broken file.\n");
}

TEST(AddSourceFiles, AMissingFileIsRefused) {
    FileList files;
    EXPECT_THROW(addSourceFile(files, "/nonexistent/song.wav"), AppException);
    EXPECT_TRUE(files.empty());
}

TEST(PartBar, WholeBarRedWithoutAPartAndThePartInRedWithIt) {
    FileEntry entry;
    entry.duration = 100;
    // Cell from 0 to 206: inner ends 6 and 201, 195 pixels for 100 seconds.
    PartBarLayout whole = partBarLayout(0, 206, entry, -1, false);
    EXPECT_EQ(whole.innerLeft, 6);
    EXPECT_EQ(whole.innerRight, 201);
    EXPECT_EQ(whole.redFrom, 6);
    EXPECT_EQ(whole.redTo, 201);

    entry.partMarked = true;
    entry.partStart = 12;
    entry.partLength = 6;
    PartBarLayout part = partBarLayout(0, 206, entry, -1, false);
    EXPECT_EQ(part.redFrom, 6 + 12 * 195 / 100);
    EXPECT_EQ(part.redTo, 6 + 18 * 195 / 100);

    PartBarLayout playing = partBarLayout(0, 206, entry, 15, false);
    EXPECT_EQ(playing.redTo, 6 + 15 * 195 / 100);

    PartBarLayout waiting = partBarLayout(0, 206, entry, -1, true);
    EXPECT_EQ(waiting.redFrom, waiting.redTo) << "no red while a start is awaited";
}

TEST(PartBar, OddPartsStayInsideTheBar) {
    FileEntry entry;
    entry.partMarked = true;
    entry.duration = 10;
    entry.partStart = 8;
    entry.partLength = 0xFFFFFFFFu;  // an end marked before its start
    PartBarLayout bar = partBarLayout(0, 106, entry, -1, false);
    EXPECT_GE(bar.redFrom, bar.innerLeft);
    EXPECT_LE(bar.redTo, bar.innerRight);
    EXPECT_LE(bar.redFrom, bar.redTo);

    entry.duration = 0;  // never divides by zero
    bar = partBarLayout(0, 106, entry, -1, false);
    EXPECT_EQ(bar.redFrom, bar.redTo);
    bar = partBarLayout(10, 12, entry, -1, false);  // a column narrower than the frame
    EXPECT_LE(bar.innerLeft, bar.innerRight);
}

}  // namespace
}  // namespace tolvane::pages
