// tolvane-convert's --phone and --list-phones: the real program, its ringtones checked by ffprobe.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "pipeline/settings.h"
#include "catalogue/phone_selection.h"
#include "encoders/ringtone_formats.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

CommandResult convert(std::vector<std::string> args) {
    args.insert(args.begin(), (binDir() / "tolvane-convert").string());
    return run(args);
}

// "Nokia/<name>" of the first Nokia model whose mask is `mask`.
std::string nokiaWithMask(std::uint32_t mask) {
    for (const catalogue::PhoneModel& row : catalogue::models()) {
        if (row.vendorId == 1 && row.formatMask == mask)
            return std::string("Nokia/") + row.name;
    }
    ADD_FAILURE() << "no Nokia model with mask " << mask;
    return "";
}

}  // namespace

TEST(ConvertPhones, PicksTheFormatTheFormatPageWould) {
    struct Case {
        std::int32_t stored;
        std::string phone;
        int expectedFormat;
        const char* sampleRate;
    };
    const std::vector<Case> cases = {
        {3, nokiaWithMask(0x01), 1, "22050"},  // MP3 not played: WavHigh replaces it
        {0, nokiaWithMask(0x01), 0, "8000"},   // WavMedium played: kept
        {1, "> Not listed </> Not listed <", 1, "22050"},
        {0, "apple/IPHONE", 0, "8000"},  // names without case
    };
    TempDir dir;
    const std::string source = dir.file("tone.wav");
    ASSERT_TRUE(makeTone(source, 44100, 1, 16, 1.0));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.phone);
        Settings stored;
        stored.load();
        stored.setFormat(c.stored);
        EXPECT_EQ(
            catalogue::selectPhone(c.phone, static_cast<std::uint32_t>(c.stored)).values.format,
            c.expectedFormat);

        const std::string out = dir.file("out" + std::to_string(i));
        const CommandResult r = convert({"--phone", c.phone, "-o", out, source});
        ASSERT_EQ(r.status, 0) << r.errors;
        EXPECT_EQ(r.output, out + "/tone.wav\n");
        EXPECT_EQ(probe(out + "/tone.wav", "sample_rate"), c.sampleRate);

        Settings after;
        after.load();
        EXPECT_EQ(after.format(), c.stored);  // the wizard's stored choice is not changed
    }
}

TEST(ConvertPhones, TodaysPhonesGetTheirOwnRingtones) {
    struct Case {
        std::int32_t stored;
        std::string phone;
        int expectedFormat;
        const char* file;
        const char* codec;
    };
    const std::vector<Case> cases = {
        {3, "Apple/iPhone 15", 7, "tone.m4r", "aac"},  // whatever was stored: M4R
        {8, "apple/iphone 15 pro", 7, "tone.m4r", "aac"},
        {4, "Google/Pixel 8", 8, "tone.ogg", "vorbis"},   // SMAF not played: Ogg first
        {3, "Samsung/Galaxy S24", 3, "tone.mp3", "mp3"},  // MP3 is played: kept
        {8, "Nokia/105 4G", 3, "tone.mp3", "mp3"},        // a 4G feature phone: no Ogg
    };
    TempDir dir;
    const std::string source = dir.file("tone.wav");
    ASSERT_TRUE(makeTone(source, 44100, 2, 16, 1.0));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.phone);
        Settings stored;
        stored.load();
        stored.setFormat(c.stored);
        const std::string out = dir.file("out" + std::to_string(i));
        const CommandResult r = convert({"--phone", c.phone, "-o", out, source});
        ASSERT_EQ(r.status, 0) << r.errors;
        EXPECT_EQ(r.output, out + "/" + c.file + "\n");
        EXPECT_EQ(probe(out + "/" + c.file, "codec_name"), c.codec);
        EXPECT_EQ(
            catalogue::selectPhone(c.phone, static_cast<std::uint32_t>(c.stored)).values.format,
            c.expectedFormat);
    }
}

TEST(ConvertPhones, RefusesPhonesThePageWouldNotList) {
    TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {"--phone", "Nokia/3410", "x.wav"},  // plays none of the formats
        {"--phone", "Nokla/3310", "x.wav"}, {"--phone", "Nokia/9999", "x.wav"},
        {"--phone", "Nokia", "x.wav"},      {"--phone", "Nokia/6600", "-f", "wav-high", "x.wav"},
    };
    for (const auto& args : cases) {
        const CommandResult r = convert(args);
        EXPECT_EQ(r.status, 2) << args[1] << " " << r.errors;
        EXPECT_EQ(r.errors.rfind("tolvane-convert: ", 0), 0u) << r.errors;
        EXPECT_EQ(r.output, "");
    }
    EXPECT_NE(convert({"--phone", "Nokia/3410", "x.wav"}).errors.find("plays none"),
              std::string::npos);
}

TEST(ConvertPhones, ListsEveryModelRowAsTheTableFileHasIt) {
    const CommandResult r = convert({"--list-phones"});
    EXPECT_EQ(r.status, 0) << r.errors;
    std::ifstream file(std::string(TOLVANE_SOURCE_DIR) + "/catalogue/models.tsv");
    std::string rows, line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] != '#')
            rows += line + "\n";
    }
    EXPECT_EQ(r.output, rows);
    EXPECT_EQ(r.output.substr(0, r.output.find('\n')), "0\t> Not listed <\t> Not listed <\t0x7F");
    // Masks wider than a byte keep every bit.
    EXPECT_NE(r.output.find("\tApple\tiPhone 15\t0x80\n"), std::string::npos);
    EXPECT_NE(r.output.find("\tGoogle\tPixel 8\t0x113\n"), std::string::npos);
}
