// Every ringtone is written through CEncoder: PCM goes in by write calls, finish closes the
// stream, destruction releases the file. The encoders and their table are in encoders/.
#pragma once

#include <atomic>
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
    // The run's cancel flag (not owned; null for none). An encoder that waits (for a converter)
    // stops waiting once it is set; a wrapper passes it on to what it wraps.
    virtual void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

protected:
    bool cancelRequested() const { return cancel_ != nullptr && cancel_->load(); }

    const std::atomic<bool>* cancel_ = nullptr;
    std::int32_t sampleRate_ = -1;
    std::int32_t channels_ = -1;
    std::int32_t bitsPerSample_ = -1;
};

// Ringtone paths are limited to the classic path limit of 259 characters.
constexpr std::size_t kMaxRingtonePath = 259;

// Every encoder constructor's first step: the already-converted check (FileSkipped when the
// user chose to skip) and creation of missing folders.
void prepareTarget(const std::string& path);

// The already-converted question. The front end supplies the asker: the wizard's message box,
// the batch front end's options, the tests' scripted answers.
enum class ConvertedAnswer { SkipAll, ReconvertAll };

class ConvertedQuestion {
public:
    virtual ~ConvertedQuestion() = default;
    // Asked at most once per process, on the thread that creates the encoder, about the first
    // ringtone found already there (`ringtonePath`); the answer holds for every later one.
    virtual ConvertedAnswer askAlreadyConverted(const std::string& ringtonePath) = 0;
};

// The text of the question box.
extern const char* const kAlreadyConvertedText;

// Installs the process-wide asker (not owned). Without one, the answer is "Skip All".
void setConvertedQuestion(ConvertedQuestion* asker);
// Forgets the process-wide "asked" and "skip all" flags. Only tests need this: the program asks
// once per process and never resets.
void resetConvertedQuestionForTesting();

}  // namespace tolvane
