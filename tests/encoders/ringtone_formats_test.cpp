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
        {7, "m4r", ".m4r", "audio/mp4", 0x80},
        {8, "ogg", ".ogg", "audio/ogg", 0x100},
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
    EXPECT_EQ(kPlayableBits, 0x1B7u);
    EXPECT_EQ(ringtoneFormat(M4r).label, "&iPhone ringtone (M4R)");
    EXPECT_EQ(ringtoneFormat(Ogg).label, "An&droid ringtone (Ogg)");
    EXPECT_EQ(ringtoneMaximumSeconds(M4r), 30);
    for (int format = 0; format < kRingtoneFormatCount; ++format) {
        if (format != M4r) {
            EXPECT_EQ(ringtoneMaximumSeconds(format), 0) << format;
        }
    }
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
        {".M4R", "audio/mp4"},
        {"ogg", "audio/ogg"},
        {"m4a", ""},
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

TEST(EncoderFactory, IphoneAndAndroidRingtonesTakeTwoChannelsAtMostAndTheirRates) {
    struct Case {
        int format;
        unsigned rate, channels, bits;
        int acceptedRate, acceptedChannels;
        bool filter;
    };
    const Case cases[] = {
        {M4r, 44100, 2, 16, 44100, 2, false}, {M4r, 44100, 1, 16, 44100, 1, false},
        {M4r, 48000, 2, 16, 44100, 2, true},  {M4r, 22050, 1, 8, 44100, 1, true},
        {M4r, 44100, 6, 16, 44100, 2, true},  {Ogg, 44100, 2, 16, 44100, 2, false},
        {Ogg, 48000, 2, 16, 48000, 2, false}, {Ogg, 32000, 1, 16, 32000, 1, false},
        {Ogg, 22050, 2, 16, 44100, 2, true},  {Ogg, 96000, 1, 16, 44100, 1, true},
        {Ogg, 48000, 4, 16, 48000, 2, true},  {Ogg, 32000, 1, 8, 32000, 1, true},
    };
    TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + ": " + std::to_string(c.rate) + " Hz, " +
                     std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
        auto encoder =
            createEncoder(c.format, PcmFormat::pcm(c.channels, c.rate, c.bits),
                          dir.file("r" + std::to_string(n++) + ringtoneExtension(c.format)));
        auto* filter = dynamic_cast<CResamplingFilter*>(encoder.get());
        EXPECT_EQ(filter != nullptr, c.filter);
        CEncoder& inner = filter != nullptr ? filter->inner() : *encoder;
        EXPECT_EQ(inner.sampleRate(), c.acceptedRate);
        EXPECT_EQ(inner.channels(), c.acceptedChannels);
        EXPECT_EQ(inner.bitsPerSample(), 16);
    }
}
