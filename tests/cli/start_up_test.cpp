// What a run loads. The programs link no FFmpeg library: loading FFmpeg and its hundred-odd
// dependencies was most of every start of tolvane-convert, of the wizard and of each converter.
// FFmpeg comes with ffmpeg_codecs.so, loaded only for Monkey's Audio sources and iPhone
// ringtones; an installation without it refuses those two clearly and makes everything else.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

test::CommandResult run(std::vector<std::string> argv,
                        const std::vector<std::string>& environment = {}) {
    if (!environment.empty()) {
        std::vector<std::string> withEnvironment = {"env"};
        withEnvironment.insert(withEnvironment.end(), environment.begin(), environment.end());
        argv.insert(argv.begin(), withEnvironment.begin(), withEnvironment.end());
    }
    return test::run(argv);
}

TEST(StartUp, NoProgramLinksFfmpeg) {
    const fs::path programs[] = {test::binDir() / "tolvane-convert", test::binDir() / "tolvane",
                                 test::libexecDir() / "kessin"};
    for (const fs::path& program : programs) {
        SCOPED_TRACE(program.string());
        if (!fs::exists(program))
            continue;  // the wizard is not built without Qt
        const auto ldd = run({"ldd", program.string()});
        ASSERT_EQ(ldd.status, 0) << ldd.errors;
        EXPECT_EQ(ldd.output.find("libav"), std::string::npos) << ldd.output;
        EXPECT_EQ(ldd.output.find("libsw"), std::string::npos) << ldd.output;
    }
}

TEST(StartUp, ListingTheFormatsLoadsNoFfmpeg) {
    TempDir dir;
    const auto r = run({(test::binDir() / "tolvane-convert").string(), "--list-formats"},
                       {"LD_DEBUG=libs", "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("smaf"), std::string::npos);
    // The dynamic loader names every library it opens on standard error.
    EXPECT_NE(r.errors.find("libc.so"), std::string::npos);
    EXPECT_EQ(r.errors.find("libavcodec"), std::string::npos);
}

// A copy of tolvane-convert "installed" under `prefix`, whose application folder is `appPath`.
std::string installCopy(const fs::path& prefix, const std::string& appPath) {
    fs::create_directories(prefix / "bin");
    const fs::path program = prefix / "bin" / "tolvane-convert";
    fs::copy_file(test::binDir() / "tolvane-convert", program);
    const auto r =
        run({(test::libexecDir() / "tolvane-hive").string(), "--root",
             (prefix / "etc" / "tolvane" / "registry").string(), "--set", "AppPath=" + appPath});
    EXPECT_EQ(r.status, 0) << r.errors;
    return program.string();
}

TEST(StartUp, WithoutTheFfmpegLibraryOnlyMonkeysAudioAndIphoneRingtonesFail) {
    TempDir dir;
    TempDir emptyFolder;
    const std::string program = installCopy(dir.path() / "prefix", emptyFolder.path().string());
    const std::string song = dir.file("song.wav");
    ASSERT_TRUE(test::makeTone(song, 44100, 2, 16, 2.0, "sine 300-900"));
    // Any file named .ape: the library is needed before its first byte is read.
    const std::string ape = dir.file("album.ape");
    test::writeFile(ape, std::vector<std::uint8_t>(4096, 'M'));
    const std::string out = dir.file("out");
    const std::string config = "XDG_CONFIG_HOME=" + dir.file("config");

    const auto m4r = run({program, "-f", "m4r", "-o", out, song}, {config});
    EXPECT_EQ(m4r.status, 1);
    EXPECT_NE(m4r.errors.find(": AAC encoding libraries aren't installed (ffmpeg_codecs.so "
                              "cannot be loaded).\n"),
              std::string::npos)
        << m4r.errors;

    const auto fromApe = run({program, "-f", "wav-medium", "-o", out, ape}, {config});
    EXPECT_EQ(fromApe.status, 1);
    EXPECT_NE(fromApe.errors.find("album.ape: Monkey's Audio decoding libraries aren't installed "
                                  "(ffmpeg_codecs.so cannot be loaded).\n"),
              std::string::npos)
        << fromApe.errors;

    // A Monkey's Audio file that is not there is an error line too, not an abort; and
    // everything else needs no FFmpeg.
    const auto others =
        run({program, "-f", "amr", "-o", out, dir.file("gone.ape"), song}, {config});
    EXPECT_EQ(others.status, 1);
    EXPECT_NE(others.errors.find("gone.ape: "), std::string::npos) << others.errors;
    EXPECT_EQ(others.output, out + "/song.amr\n");
}

}  // namespace
}  // namespace tolvane
