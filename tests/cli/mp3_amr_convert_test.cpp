// MP3 and AMR ringtones as a user of tolvane-convert meets them: the real program on files made
// by sox, the ringtones read back by ffprobe and ffmpeg, failures as error lines of the run.
#include <gtest/gtest.h>

#include <filesystem>

#include "../encoders/encoder_fixtures.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

test::CommandResult convert(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    return test::run(args);
}

std::string buildProgram() {
    return (test::binDir() / "tolvane-convert").string();
}

class ConvertMp3Amr : public ::testing::Test {
protected:
    void SetUp() override {
        // Four seconds of which the part from second 1 to second 3 becomes the ringtone.
        ASSERT_TRUE(test::makeTone(source_, 44100, 2, 16, 4.0, "sine 300-900"));
    }

    TempDir dir_;
    const std::string source_ = dir_.file("song.wav");
};

TEST_F(ConvertMp3Amr, PartOfASongBecomesEachRingtone) {
    struct Case {
        const char* format;
        const char* file;
        const char* codec;
        const char* bitRate;  // "" when not fixed by the format
    };
    const Case cases[] = {{"mp3-medium", "song.mp3", "mp3", "48000"},
                          {"mp3-high", "song.mp3", "mp3", "96000"},
                          {"amr", "song.amr", "amr_nb", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string out = dir_.file(c.format);
        const auto r =
            convert(buildProgram(), {"-f", c.format, "-o", out, "--part", "1+2", source_});
        ASSERT_EQ(r.status, 0) << r.errors;
        const std::string ringtone = out + "/" + c.file;
        EXPECT_EQ(r.output, ringtone + "\n");
        auto info = test::streamInfo(ringtone);
        EXPECT_EQ(info["codec_name"], c.codec);
        EXPECT_EQ(info["channels"], "1");
        if (*c.bitRate != '\0') {
            EXPECT_EQ(info["bit_rate"], c.bitRate);
        }
        // Two seconds; an MP3 also carries LAME's coder delay and a padded last frame.
        const int rate = std::stoi(info["sample_rate"]);
        const double seconds = static_cast<double>(test::decodeWithFfmpeg(ringtone).size()) / rate;
        EXPECT_GE(seconds, 2.0 - 0.02);
        EXPECT_LE(seconds, 2.0 + (1105.0 + 1152.0) / rate);
    }
}

// A copy of tolvane-convert "installed" under `prefix`, whose machine hive names `appPath` as the
// application folder.
std::string installCopy(const fs::path& prefix, const std::string& appPath) {
    fs::create_directories(prefix / "bin");
    const fs::path program = prefix / "bin" / "tolvane-convert";
    fs::copy_file(buildProgram(), program);
    const auto r = test::run({(test::libexecDir() / "tolvane-hive").string(), "--root",
                              (prefix / "etc" / "tolvane" / "registry").string(), "--set",
                              "AppPath=" + appPath});
    EXPECT_EQ(r.status, 0) << r.errors;
    return program.string();
}

TEST_F(ConvertMp3Amr, MissingOrBrokenMp3LibraryIsAnErrorLineOfTheRun) {
    TempDir emptyFolder;
    struct Case {
        const char* what;
        std::string appPath;
        const char* line;
    };
    const Case cases[] = {
        {"missing", emptyFolder.path().string(), "song.mp3: MP3 libraries are not installed.\n"},
        {"broken", BROKEN_LAME_ENC_DIR, "song.mp3: MP3 libraries are broken.\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path prefix = dir_.path() / c.what;
        const std::string program = installCopy(prefix, c.appPath);
        const std::string out = (prefix / "out").string();
        const auto r = convert(program, {"-f", "mp3-medium", "-o", out, source_});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.errors.find(c.line), std::string::npos) << r.errors;
        EXPECT_EQ(r.output, "");
        // AMR needs no run-time library: the same installation still makes AMR ringtones.
        const auto amr = convert(program, {"-f", "amr", "-o", out, source_});
        EXPECT_EQ(amr.status, 0) << amr.errors;
    }
}

}  // namespace
}  // namespace tolvane
