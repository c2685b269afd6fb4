#include "encoders/ringtone_formats.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "pipeline/app_exception.h"
#include "pipeline/resampling_filter.h"
#include "pipeline/wave_encoder.h"
#include "support/test_support.h"

using namespace tolvane;
using test::TempDir;

// The values stored files, scripts, phones and the catalogue data rely on.
TEST(FormatTable, RowsKeepTheirStoredIndexNamesExtensionsTypesAndBits) {
    struct Row {
        int index;
        const char* name;
        const char* extension;
        const char* mediaType;
        std::uint32_t maskBit;
    };
    const Row rows[] = {
        {0, "wav-medium", ".wav", "audio/x-wav", 0x01},
        {1, "wav-high", ".wav", "audio/x-wav", 0x01},
        {2, "mp3-medium", ".mp3", "audio/mpeg", 0x02},
        {3, "mp3-high", ".mp3", "audio/mpeg", 0x02},
        {4, "smaf", ".mmf", "application/vnd.smaf", 0x04},
        {5, "amr", ".amr", "audio/amr", 0x10},
        {6, "qcp", ".qcp", "audio/vnd.qcelp", 0x20},
    };
    for (const Row& r : rows) {
        const RingtoneFormatRow& row = ringtoneFormat(r.index);
        EXPECT_EQ(row.index, r.index);
        EXPECT_EQ(row.name, r.name);
        EXPECT_EQ(row.extension, r.extension);
        EXPECT_EQ(ringtoneExtension(r.index), r.extension);
        EXPECT_EQ(row.mediaType, r.mediaType);
        EXPECT_EQ(row.maskBit, r.maskBit);
    }
    EXPECT_EQ(kPlayableBits, 0x37u);
    std::set<std::string_view> names;
    for (const RingtoneFormatRow& row : kRingtoneFormats) {
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        EXPECT_NE(row.make, nullptr);
        EXPECT_FALSE(row.label.empty());
    }
}

TEST(FormatTable, IndexesOutsideTheTableAreRefused) {
    for (int bad : {-1, kRingtoneFormatCount, 1000}) {
        try {
            ringtoneFormat(bad);
            FAIL() << bad;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "bad format descriptor");
        }
        EXPECT_THROW(ringtoneExtension(bad), std::logic_error);
        TempDir dir;
        EXPECT_THROW(createEncoder(bad, PcmFormat::pcm(1, 8000, 16), dir.file("x.bin")),
                     std::logic_error);
    }
}

TEST(FormatTable, MediaTypesByExtensionIgnoreCaseAndTheDot) {
    struct Case {
        const char* extension;
        const char* type;
    };
    const Case cases[] = {
        {"amr", "audio/amr"},
        {".AMR", "audio/amr"},
        {"Mmf", "application/vnd.smaf"},
        {".wav", "audio/x-wav"},
        {"mid", "audio/midi"},
        {".MID", "audio/midi"},
        {"qcp", "audio/vnd.qcelp"},
        {"mp3", "audio/mpeg"},
        {"txt", ""},
        {"", ""},
        {".", ""},
        {"amrx", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mediaTypeOfExtension(c.extension), c.type) << c.extension;
    EXPECT_EQ(ringtoneFormatOfExtension(".MP3")->index, Mp3Medium);
    EXPECT_EQ(ringtoneFormatOfExtension("mid"), nullptr);
}

TEST(EncoderFactory, PutsTheFilterInFrontOnlyWhenFormatsDiffer) {
    TempDir dir;
    auto medium = createEncoder(WavMedium, PcmFormat::pcm(2, 44100, 16), dir.file("m.wav"));
    auto* filter = dynamic_cast<CResamplingFilter*>(medium.get());
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->state().target.sampleRate, 8000u);
    EXPECT_EQ(filter->state().target.channels, 1);
    EXPECT_EQ(filter->state().target.bitsPerSample, 8);
    EXPECT_EQ(filter->inner().sampleRate(), 8000);

    auto high = createEncoder(WavHigh, PcmFormat::pcm(1, 22050, 8), dir.file("h.wav"));
    EXPECT_NE(dynamic_cast<CWaveEncoder*>(high.get()), nullptr);
    EXPECT_EQ(high->sampleRate(), 22050);
    EXPECT_EQ(high->bitsPerSample(), 8);
}
