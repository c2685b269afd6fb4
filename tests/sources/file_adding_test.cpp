#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "pipeline/reader.h"
#include "sources/file_adding.h"
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

// Headers in front of no audio at all: a WAV header that states a second of data and ends there,
// and a FLAC file whose STREAMINFO states 3 s while its frames are cut off.
TEST(AddSourceFiles, ASourceWithoutASingleSampleIsABrokenFile) {
    TempDir dir;
    auto wav = tolvane::test::wavBytes(8000, 1, 16, {});
    const std::uint32_t stated = 16000;
    for (int i = 0; i < 4; ++i) {
        wav[40 + i] = std::uint8_t(stated >> (8 * i));
        wav[4 + i] = std::uint8_t((stated + 36) >> (8 * i));
    }
    tolvane::test::writeFile(dir.file("header.wav"), wav);

    ASSERT_TRUE(tolvane::test::makeTone(dir.file("tone.wav"), 44100, 1, 16, 3.0, "pinknoise"));
    ASSERT_EQ(tolvane::test::run(
                  {"ffmpeg", "-v", "error", "-i", dir.file("tone.wav"), dir.file("whole.flac")})
                  .status,
              0);
    auto flac = tolvane::test::readFile(dir.file("whole.flac"));
    std::size_t end = 4;  // after "fLaC", metadata blocks up to the last one
    for (bool last = false; !last;) {
        last = (flac.at(end) & 0x80) != 0;
        end += 4 + (std::size_t(flac.at(end + 1)) << 16 | flac.at(end + 2) << 8 | flac.at(end + 3));
    }
    flac.resize(end);
    tolvane::test::writeFile(dir.file("metadata.flac"), flac);
    ASSERT_GT(durationOf(dir.file("metadata.flac")), 0);  // the header alone looks like a song

    FileList files;
    const AddResult result = addSourceFiles(
        files, {dir.file("header.wav"), dir.file("metadata.flac"), dir.file("tone.wav")},
        WarningName::FileName);
    EXPECT_EQ(result.warnings, "header.wav: broken file.\nmetadata.flac: broken file.\n");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.entries()[0].path, dir.file("tone.wav"));
}

// Runs `body` as an ordinary user and returns what it returns: in place when the tests run as
// one, else in a child process that has given up root for "nobody" (root reads every file,
// whatever its modes say).
std::string asOrdinaryUser(const std::function<std::string()>& body) {
    if (::geteuid() != 0)
        return body();
    int channel[2];
    if (::pipe(channel) != 0)
        return "!pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::string result = "!cannot become nobody";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            result = body();
        const ssize_t written = ::write(channel[1], result.data(), result.size());
        ::_exit(written == ssize_t(result.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    std::string result;
    char block[512];
    for (ssize_t got; (got = ::read(channel[0], block, sizeof block)) > 0;)
        result.append(block, std::size_t(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

// Real files an ordinary user may not read: one whose modes forbid it, one in a folder that may
// not be entered. Both are named "permission denied", and a readable file beside them goes in.
TEST(AddSourceFiles, AnUnreadableFileIsReportedAsPermissionDenied) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tolvane-modes-XXXXXX";  // open to "nobody" on the way in
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    fs::permissions(dir, fs::perms(0755), fs::perm_options::replace);
    const auto file = [&](const char* name) { return (dir / name).string(); };
    ASSERT_TRUE(tolvane::test::makeTone(file("song.wav"), 22050, 2, 16, 2.0, "pinknoise"));
    ASSERT_EQ(
        tolvane::test::run({"ffmpeg", "-v", "error", "-i", file("song.wav"), file("locked.mp3")})
            .status,
        0);
    fs::create_directories(dir / "closed");
    fs::copy_file(file("locked.mp3"), file("closed/inside.mp3"));
    fs::permissions(file("song.wav"), fs::perms(0644), fs::perm_options::replace);
    fs::permissions(file("locked.mp3"), fs::perms::none, fs::perm_options::replace);
    fs::permissions(dir / "closed", fs::perms::none, fs::perm_options::replace);

    const std::string outcome = asOrdinaryUser([&] {
        FileList files;
        const AddResult result =
            addSourceFiles(files, {file("locked.mp3"), file("closed/inside.mp3"), file("song.wav")},
                           WarningName::FileName);
        std::string added;
        for (const FileEntry& entry : files.entries())
            added += entry.path + ";";
        return result.warnings + "added: " + added;
    });
    fs::permissions(dir / "closed", fs::perms::owner_all, fs::perm_options::replace);
    fs::remove_all(dir);
    EXPECT_EQ(outcome,
              "locked.mp3: permission denied.\ninside.mp3: permission denied.\n"
              "added: " +
                  file("song.wav") + ";");
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
