// Every ringtone is written through CEncoder: PCM goes in by write calls, finish closes the
// stream, destruction releases the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tolvane {

class CEncoder {
public:
    CEncoder() = default;
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;
    virtual ~CEncoder() = default;

    // Consumes `count` bytes of interleaved PCM in the accepted format. EncoderException on
    // failure.
    virtual void write(const void* data, std::size_t count, std::size_t* written = nullptr) = 0;
    // The stream is complete: flush and finalise.
    virtual void finish() = 0;

    // The PCM the encoder accepts; -1 until the factory sets it.
    std::int32_t sampleRate() const { return sampleRate_; }
    std::int32_t channels() const { return channels_; }
    std::int32_t bitsPerSample() const { return bitsPerSample_; }
    void setInputFormat(std::int32_t rate, std::int32_t channels, std::int32_t bits) {
        sampleRate_ = rate;
        channels_ = channels;
        bitsPerSample_ = bits;
    }

protected:
    std::int32_t sampleRate_ = -1;
    std::int32_t channels_ = -1;
    std::int32_t bitsPerSample_ = -1;
};

// Ringtone format index (LastUsedFormat) 0..8.
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

// Encoder kinds.
enum EncoderKind : int {
    kKindWave = 1,
    kKindMp3 = 2,
    kKindMmf = 3,
    kKindAmr = 4,
    kKindQcp = 5,
    kKindM4r = 6,
    kKindOgg = 7,
};

// Format index -> kind / quality; std::logic_error "bad format descriptor" outside 0..8.
int encoderKind(int formatIndex);
int formatQuality(int formatIndex);
// Kind -> ".wav", ".mp3", ".mmf", ".amr", ".qcp", ".m4r", ".ogg"; EncoderException
// "unknown target format".
std::string targetExtension(int kind);

// iPhones refuse ringtones longer than this; the M4R encoder cuts there and fades out.
inline constexpr int kIphoneRingtoneSeconds = 30;
// The longest ringtone a kind may make, in seconds: kIphoneRingtoneSeconds for M4R; 0 for the
// kinds that keep the whole part.
int maximumRingtoneSeconds(int kind);

// Ringtone paths are limited to the classic path limit of 259 characters.
constexpr std::size_t kMaxRingtonePath = 259;

// Builds the encoder of `kind` on `path`, sets its input format and puts a CResamplingFilter in
// front of it when the source's format differs from what the encoder accepts.
std::unique_ptr<CEncoder> createEncoder(int sourceBits, int sourceChannels, int kind, int quality,
                                        const std::string& path, int sourceRate);

// Every encoder constructor's first step: the already-converted check (EncoderException
// "file skipped" when the user chose to skip) and creation of missing folders.
void prepareTarget(const std::string& path);

// The already-converted question. The front end supplies the asker: the wizard's message box,
// the batch front end's options, the tests' scripted answers.
enum class ConvertedAnswer { SkipAll, ReconvertAll };

class ConvertedQuestion {
public:
    virtual ~ConvertedQuestion() = default;
    // Asked at most once per process, on the thread that creates the encoder.
    virtual ConvertedAnswer askAlreadyConverted() = 0;
};

// The text of the question box.
extern const char* const kAlreadyConvertedText;

// Installs the process-wide asker (not owned). Without one, the answer is "Skip All".
void setConvertedQuestion(ConvertedQuestion* asker);
// Forgets the process-wide "asked" and "skip all" flags. Only tests need this: the program asks
// once per process and never resets.
void resetConvertedQuestionForTesting();

}  // namespace tolvane
