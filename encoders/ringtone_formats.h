// The ringtone formats: one row per format, holding everything the rest of the program knows
// about it (its stored index, command-line name, Format page label, file extension, media type,
// the catalogue bit that enables it, the PCM its encoder takes, and how to make that encoder).
// Adding a format is one row here, one encoder file and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "encoders/encoders.h"
#include "pipeline/encoder.h"
#include "pipeline/pcm_format.h"

namespace tolvane {

// Ringtone format index, the row of the table. Stored as LastUsedFormat, so the numbers of
// existing rows never change.
enum RingtoneFormat : int {
    WavMedium = 0,
    WavHigh = 1,
    Mp3Medium = 2,
    Mp3High = 3,
    Smaf = 4,
    Amr = 5,
    Qcp = 6,
    M4r = 7,  // iPhone ringtone
    Ogg = 8,  // Android ringtone
};

// The catalogue's FormatMask bits. 0x08 and 0x40 are catalogue data that no format reads.
inline constexpr std::uint32_t kMaskWav = 0x01;
inline constexpr std::uint32_t kMaskMp3 = 0x02;
inline constexpr std::uint32_t kMaskSmaf = 0x04;
inline constexpr std::uint32_t kMaskAmr = 0x10;
inline constexpr std::uint32_t kMaskQcp = 0x20;
inline constexpr std::uint32_t kMaskM4r = 0x80;
inline constexpr std::uint32_t kMaskOgg = 0x100;

// The PCM an encoder takes. A field of kSourceValue takes the source's value as it is; the
// resampling filter converts whatever else differs.
inline constexpr int kSourceValue = 0;
struct AcceptedPcm {
    int rate;
    int channels;
    int bits;
    // With `channels` kSourceValue: at most this many (0: no limit).
    int maxChannels = 0;
    // Source rates from keptRatesFrom to keptRatesTo are taken as they are; `rate` is taken for
    // the others (both 0: `rate` alone).
    int keptRatesFrom = 0;
    int keptRatesTo = 0;
};

// Makes the encoder on `path`. Every maker begins with prepareTarget.
using EncoderMaker = std::unique_ptr<CEncoder> (*)(const std::string& path);

struct RingtoneFormatRow {
    RingtoneFormat index;
    std::string_view name;       // on the command line
    std::string_view label;      // on the Format page; "&" marks the mnemonic
    std::string_view extension;  // of the ringtone file, with its dot
    std::string_view mediaType;  // in mail attachments and pick-up downloads
    std::uint32_t maskBit;       // the catalogue bit that makes a phone play it
    AcceptedPcm accepts;
    EncoderMaker make;
    // The longest ringtone the format makes, in seconds; 0 keeps the whole part.
    int maxSeconds = 0;
};

// In index order.
inline constexpr RingtoneFormatRow kRingtoneFormats[] = {
    {WavMedium,
     "wav-medium",
     "M&eduim quality WAV",
     ".wav",
     "audio/x-wav",
     kMaskWav,
     {8000, 1, 8},
     makeWaveEncoder},
    {WavHigh,
     "wav-high",
     "High quality &WAV",
     ".wav",
     "audio/x-wav",
     kMaskWav,
     {22050, 1, 8},
     makeWaveEncoder},
    {Mp3Medium,
     "mp3-medium",
     "&Meduim quality MP3",
     ".mp3",
     "audio/mpeg",
     kMaskMp3,
     {kSourceValue, 1, 16},
     makeMediumMp3Encoder},
    {Mp3High,
     "mp3-high",
     "High quality M&P3",
     ".mp3",
     "audio/mpeg",
     kMaskMp3,
     {kSourceValue, 1, 16},
     makeHighMp3Encoder},
    {Smaf,
     "smaf",
     "Varnel &SMAF (MMF)",
     ".mmf",
     "application/vnd.smaf",
     kMaskSmaf,
     {kSourceValue, kSourceValue, kSourceValue},
     makeMmfEncoder},
    {Amr,
     "amr",
     "&Adaptive Multirate (AMR)",
     ".amr",
     "audio/amr",
     kMaskAmr,
     {8000, 1, 16},
     makeAmrEncoder},
    {Qcp,
     "qcp",
     "&Qualcomm Purevoice (QCP)",
     ".qcp",
     "audio/vnd.qcelp",
     kMaskQcp,
     {8000, 1, 16},
     makeQcpEncoder},
    {M4r,
     "m4r",
     "&iPhone ringtone (M4R)",
     ".m4r",
     "audio/mp4",
     kMaskM4r,
     {44100, kSourceValue, 16, 2},
     makeM4rEncoder,
     kIphoneRingtoneSeconds},
    {Ogg,
     "ogg",
     "An&droid ringtone (Ogg)",
     ".ogg",
     "audio/ogg",
     kMaskOgg,
     {44100, kSourceValue, 16, 2, 32000, 48000},
     makeOggEncoder},
};

inline constexpr int kRingtoneFormatCount = static_cast<int>(std::size(kRingtoneFormats));

// Every bit that enables some format.
inline constexpr std::uint32_t kPlayableBits = [] {
    std::uint32_t bits = 0;
    for (const RingtoneFormatRow& row : kRingtoneFormats)
        bits |= row.maskBit;
    return bits;
}();

// The row of `formatIndex`; std::logic_error "bad format descriptor" outside the table.
const RingtoneFormatRow& ringtoneFormat(int formatIndex);
// The row's extension as a string, for the worker; the same exception.
std::string ringtoneExtension(int formatIndex);
// The row's maxSeconds, for the worker; the same exception.
int ringtoneMaximumSeconds(int formatIndex);
// The first row with this extension ("amr" or ".amr", any case); nullptr when none has it.
const RingtoneFormatRow* ringtoneFormatOfExtension(std::string_view extension);
// The media type phones expect for a file extension ("amr" or ".amr", any case): the formats'
// types, and "audio/midi" for MIDI ringtones made elsewhere; empty for anything else.
std::string_view mediaTypeOfExtension(std::string_view extension);

// Makes the encoder of `formatIndex` on `path` for PCM in `source`'s format: sets the input
// format it takes and puts a CResamplingFilter in front of it when the source differs from that.
std::unique_ptr<CEncoder> createEncoder(int formatIndex, const PcmFormat& source,
                                        const std::string& path);

}  // namespace tolvane
