#include "encoders/aac_mp4_writer.h"

#include <new>

#include "pipeline/app_exception.h"
#include "platform/paths.h"
#include "plugins/ffmpeg_codecs/ffmpeg_codecs.h"

namespace tolvane {
namespace {

namespace ff = ffmpeg_codecs;

constexpr const char* kNoLibrary =
    "AAC encoding libraries aren't installed (ffmpeg_codecs.so cannot be loaded)";

// The library's codes as this program's errors.
void check(ff::Result result) {
    switch (result) {
        case ff::kOk:
            return;
        case ff::kCannotCreateFile:
            throw EncoderException("cannot create file");
        case ff::kNoEncoder:
            throw EncoderException("AAC encoder not available");
        case ff::kUnableToEncode:
            throw EncoderException("unable to encode");
        case ff::kOutOfMemory:
            throw std::bad_alloc();
        case ff::kWriteError:
        default:
            throw EncoderException("write error");
    }
}

class LoadedAacMp4Writer : public AacMp4Writer {
public:
    explicit LoadedAacMp4Writer(ff::AacMp4Sink* sink) : sink_(sink) {}
    void write(const std::int16_t* pcm, std::size_t frames) override {
        check(sink_->write(pcm, frames));
    }
    void finish() override { check(sink_->finish()); }

private:
    std::unique_ptr<ff::AacMp4Sink> sink_;
};

}  // namespace

std::unique_ptr<AacMp4Writer> openAacMp4Writer(const std::string& path,
                                               const AacMp4Settings& settings) {
    const ff::Entries* codecs = ff::load(platform::applicationFolder());
    if (codecs == nullptr)
        throw EncoderException(kNoLibrary);
    ff::AacMp4Options options;
    options.sampleRate = settings.sampleRate;
    options.channels = settings.channels;
    options.bitRate = settings.bitRate;
    options.title = settings.title.c_str();
    options.codecName = settings.codecName.c_str();
    ff::AacMp4Sink* sink = nullptr;
    const ff::Result result = codecs->openAacMp4(path.c_str(), &options, &sink);
    std::unique_ptr<ff::AacMp4Sink> owned(sink);
    check(result);
    return std::make_unique<LoadedAacMp4Writer>(owned.release());
}

}  // namespace tolvane
