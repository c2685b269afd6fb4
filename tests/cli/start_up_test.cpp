// What a run loads. The programs link no FFmpeg library: loading FFmpeg and its hundred-odd
// dependencies was most of every start of tolvane-convert, of the wizard and of each converter.
// FFmpeg comes with ffmpeg_codecs.so, loaded only for Monkey's Audio sources and iPhone
// ringtones; an installation without it refuses those two clearly and makes everything else.
// tolvane-convert links no mail, network or QR library either: sending comes with sending.so,
// loaded only when --send is given.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
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

// Libraries only sending needs: the upload service and mail clients, the QR code and its PNG.
const char* const kSendingLibraries[] = {"libPoco", "libqrencode", "libpng"};

TEST(StartUp, TheCommandLineProgramLinksNoSendingLibrary) {
    const auto ldd = run({"ldd", (test::binDir() / "tolvane-convert").string()});
    ASSERT_EQ(ldd.status, 0) << ldd.errors;
    for (const char* library : kSendingLibraries)
        EXPECT_EQ(ldd.output.find(library), std::string::npos) << library << "\n" << ldd.output;
}

TEST(StartUp, ListingTheFormatsLoadsNeitherFfmpegNorTheSendingLibraries) {
    TempDir dir;
    const auto r = run({(test::binDir() / "tolvane-convert").string(), "--list-formats"},
                       {"LD_DEBUG=libs", "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("smaf"), std::string::npos);
    // The dynamic loader names every library it opens on standard error.
    EXPECT_NE(r.errors.find("libc.so"), std::string::npos);
    EXPECT_EQ(r.errors.find("libavcodec"), std::string::npos);
    EXPECT_EQ(r.errors.find("sending.so"), std::string::npos);
    for (const char* library : kSendingLibraries)
        EXPECT_EQ(r.errors.find(library), std::string::npos) << library;
}

// The dynamic symbols `file` defines (or, with `undefined`, needs) of the core's namespace.
std::set<std::string> coreSymbols(const fs::path& file, bool undefined) {
    const auto nm = run({"nm", "-D", undefined ? "--undefined-only" : "--defined-only",
                         "--format=posix", file.string()});
    EXPECT_EQ(nm.status, 0) << nm.errors;
    std::set<std::string> symbols;
    std::istringstream lines(nm.output);
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find(' '));
        if (name.find("7tolvane") != std::string::npos)
            symbols.insert(name);
    }
    return symbols;
}

// sending.so takes what delivery uses of the layers below it from the program; a symbol the
// program does not export would make every --send fail when the library is opened.
TEST(StartUp, TheProgramExportsEverythingTheSendingLibraryTakesFromIt) {
    const fs::path library = test::appDir() / "sending.so";
    ASSERT_TRUE(fs::exists(library)) << library;
    const auto needed = coreSymbols(library, true);
    EXPECT_FALSE(needed.empty());  // the settings and the password exchange at least
    const auto exported = coreSymbols(test::binDir() / "tolvane-convert", false);
    for (const std::string& symbol : needed)
        EXPECT_TRUE(exported.count(symbol)) << symbol;
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

TEST(StartUp, WithoutTheSendingLibraryOnlySendingFails) {
    TempDir dir;
    TempDir emptyFolder;
    const std::string program = installCopy(dir.path() / "prefix", emptyFolder.path().string());
    const std::string song = dir.file("song.wav");
    ASSERT_TRUE(test::makeTone(song, 44100, 2, 16, 2.0, "sine 300-900"));
    const std::string out = dir.file("out");
    const std::string config = "XDG_CONFIG_HOME=" + dir.file("config");

    // Refused before anything is converted: the ringtone could not go anywhere.
    const auto send =
        run({program, "-f", "wav-medium", "-o", out, "--send", "WAP", song}, {config});
    EXPECT_EQ(send.status, 1);
    EXPECT_NE(send.errors.find("tolvane-convert: sending is not available: "), std::string::npos)
        << send.errors;
    EXPECT_NE(send.errors.find("sending.so"), std::string::npos) << send.errors;
    EXPECT_EQ(send.output, "");
    EXPECT_FALSE(fs::exists(out + "/song.wav"));

    // A wrong command line is still a usage error, named as such.
    const auto usage = run({program, "--send", "MMS", "--carrier", "15", song}, {config});
    EXPECT_EQ(usage.status, 2) << usage.errors;

    const auto convert = run({program, "-f", "wav-medium", "-o", out, song}, {config});
    EXPECT_EQ(convert.status, 0) << convert.errors;
    EXPECT_EQ(convert.output, out + "/song.wav\n");
}

}  // namespace
}  // namespace tolvane
