// What the MP3 and AMR ringtone writers report when the target cannot be written: the user's
// skip, a file that cannot be created, a disk that fills up.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "encoder_fixtures.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using test::TempDir;

struct Writer {
    const char* name;
    RingtoneFormat format;
};
constexpr Writer kWriters[] = {{"mp3", Mp3Medium}, {"amr", Amr}};

class RingtoneFailure : public ::testing::Test {
protected:
    void SetUp() override {
        resetConvertedQuestionForTesting();
        setMp3LibraryFolderForTesting(std::nullopt);
        pcm_ = test::synthPcm(8000, 1, "1");
    }

    // Creates the ringtone and writes one second of 8000 Hz mono to it; the message of the
    // EncoderException raised on the way, or "" when none was.
    std::string convert(const Writer& w, const std::string& path) {
        try {
            auto encoder = createEncoder(w.format, PcmFormat::pcm(1, 8000, 16), path);
            test::encodeAll(*encoder, pcm_, pcm_.size());
        } catch (const EncoderException& e) {
            return e.message();
        }
        return "";
    }

    TempDir dir_;
    std::vector<std::uint8_t> pcm_;
};

TEST_F(RingtoneFailure, ExistingRingtoneIsSkippedAndKept) {
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string path = dir_.file(std::string("old.") + w.name);
        test::writeFile(path, {'o', 'l', 'd'});
        // Without a front end to ask, the answer is "Skip All".
        EXPECT_EQ(convert(w, path), "file skipped");
        EXPECT_EQ(test::readFile(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }
}

TEST_F(RingtoneFailure, TargetThatCannotBeCreated) {
    const std::string notAFolder = dir_.file("plain-file");
    test::writeFile(notAFolder, {'x'});
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const std::string ext = std::string(".") + w.name;
        EXPECT_EQ(convert(w, notAFolder + "/ring" + ext), "cannot create file");
        // Longer than the ringtone path limit of 259 characters.
        EXPECT_EQ(convert(w, dir_.file(std::string(260, 'r') + ext)), "cannot create file");
    }
}

TEST_F(RingtoneFailure, FullDiskIsAWriteErrorNotAShortFile) {
    // The disk fills up inside the AMR magic, or after a few frames of either format.
    for (const Writer& w : kWriters) {
        for (rlim_t room : {3, 200}) {
            SCOPED_TRACE(std::string(w.name) + ", " + std::to_string(room) + " bytes free");
            const std::string path = dir_.file("full" + std::to_string(room) + "." + w.name);
            std::string message;
            {
                test::FileSizeLimit disk(room);
                message = convert(w, path);
            }
            EXPECT_EQ(message, "write error");
            // What was written stays: the worker decides what becomes of a failed ringtone.
            EXPECT_TRUE(std::filesystem::exists(path));
        }
    }
}

}  // namespace
}  // namespace tolvane
