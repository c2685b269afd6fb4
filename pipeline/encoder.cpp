#include "pipeline/encoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"
#include "pipeline/resampling_filter.h"
#include "pipeline/wave_encoder.h"

namespace fs = std::filesystem;

namespace tolvane {
namespace {

struct FormatRow {
    int kind;
    int quality;
};
constexpr FormatRow kFormats[] = {{kKindWave, 1}, {kKindWave, 2}, {kKindMp3, 1},
                                  {kKindMp3, 2},  {kKindMmf, 1},  {kKindAmr, 1},
                                  {kKindQcp, 1},  {kKindM4r, 1},  {kKindOgg, 1}};

const FormatRow& formatRow(int formatIndex) {
    if (formatIndex < 0 || formatIndex >= static_cast<int>(std::size(kFormats)))
        throw std::logic_error("bad format descriptor");
    return kFormats[formatIndex];
}

// The two process-wide flags of the already-converted question: set once, never reset.
bool questionAsked = false;
bool skipAll = false;
ConvertedQuestion* asker = nullptr;

// Reports true when the existing ringtone is to be kept (skip).
bool skipExisting() {
    if (!questionAsked) {
        const ConvertedAnswer answer =
            asker != nullptr ? asker->askAlreadyConverted() : ConvertedAnswer::SkipAll;
        questionAsked = true;
        skipAll = answer != ConvertedAnswer::ReconvertAll;
    }
    return skipAll;
}

void createMissingFolders(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    std::error_code ec;
    // Creating from the outermost missing folder; a failure shows when the file is created.
    fs::create_directories(path.substr(0, slash), ec);
}

PcmFormat sourceFormat(int bits, int channels, int rate) {
    return PcmFormat::pcm(channels, rate, bits);
}

}  // namespace

const char* const kAlreadyConvertedText =
    "The file seems to be already converted to ringtone. If this is a result \n"
    "of a previous cancelled conversion, it's a good idea to skip files that already were \n"
    "converted.\n";

int encoderKind(int formatIndex) {
    return formatRow(formatIndex).kind;
}
int formatQuality(int formatIndex) {
    return formatRow(formatIndex).quality;
}

std::string targetExtension(int kind) {
    switch (kind) {
        case kKindWave:
            return ".wav";
        case kKindMp3:
            return ".mp3";
        case kKindMmf:
            return ".mmf";
        case kKindAmr:
            return ".amr";
        case kKindQcp:
            return ".qcp";
        case kKindM4r:
            return ".m4r";
        case kKindOgg:
            return ".ogg";
        default:
            throw EncoderException("unknown target format");
    }
}

int maximumRingtoneSeconds(int kind) {
    return kind == kKindM4r ? kIphoneRingtoneSeconds : 0;
}

void setConvertedQuestion(ConvertedQuestion* a) {
    asker = a;
}

void resetConvertedQuestionForTesting() {
    questionAsked = false;
    skipAll = false;
}

void prepareTarget(const std::string& path) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
        if (skipExisting())
            throw EncoderException("file skipped");
        // Reconvert: make the old ringtone writable again and remove it.
        ::chmod(path.c_str(), 0644);
        fs::remove(path, ec);
    }
    createMissingFolders(path);
}

std::unique_ptr<CEncoder> createEncoder(int sourceBits, int sourceChannels, int kind, int quality,
                                        const std::string& path, int sourceRate) {
    std::unique_ptr<CEncoder> encoder;
    bool needsFilter = false;
    switch (kind) {
        case kKindWave: {
            const int rate = quality == 2 ? 22050 : 8000;
            encoder = std::make_unique<CWaveEncoder>(path);
            encoder->setInputFormat(rate, 1, 8);
            needsFilter = sourceRate != rate || sourceBits != 8 || sourceChannels != 1;
            break;
        }
        case kKindMp3:
            encoder = makeMp3Encoder(path, quality);
            encoder->setInputFormat(sourceRate, 1, 16);
            needsFilter = sourceBits != 16 || sourceChannels != 1;
            break;
        case kKindMmf:
            encoder = makeMmfEncoder(path);
            encoder->setInputFormat(sourceRate, sourceChannels, sourceBits);
            break;
        case kKindAmr:
            // The AMR encoder takes 8000 Hz mono 16-bit by definition; its fields stay unset.
            encoder = makeAmrEncoder(path);
            needsFilter = sourceRate != 8000 || sourceBits != 16 || sourceChannels != 1;
            if (needsFilter) {
                return std::make_unique<CResamplingFilter>(
                    std::move(encoder), sourceFormat(sourceBits, sourceChannels, sourceRate),
                    PcmFormat::pcm(1, 8000, 16));
            }
            return encoder;
        case kKindQcp:
            encoder = makeQcpEncoder(path);
            encoder->setInputFormat(8000, 1, 16);
            needsFilter = sourceRate != 8000 || sourceBits != 16 || sourceChannels != 1;
            break;
        case kKindM4r:
            // 44100 Hz, the source's channels up to two.
            encoder = makeM4rEncoder(path);
            encoder->setInputFormat(44100, std::min(sourceChannels, 2), 16);
            needsFilter = sourceRate != 44100 || sourceBits != 16 || sourceChannels > 2;
            break;
        case kKindOgg: {
            // The source's rate when it is 32000..48000 Hz, else 44100; channels up to two.
            const int rate = sourceRate >= 32000 && sourceRate <= 48000 ? sourceRate : 44100;
            encoder = makeOggEncoder(path);
            encoder->setInputFormat(rate, std::min(sourceChannels, 2), 16);
            needsFilter = sourceRate != rate || sourceBits != 16 || sourceChannels > 2;
            break;
        }
        default:
            throw EncoderException("encoder not available");
    }
    if (!needsFilter)
        return encoder;
    const PcmFormat target =
        PcmFormat::pcm(encoder->channels(), encoder->sampleRate(), encoder->bitsPerSample());
    return std::make_unique<CResamplingFilter>(
        std::move(encoder), sourceFormat(sourceBits, sourceChannels, sourceRate), target);
}

}  // namespace tolvane
