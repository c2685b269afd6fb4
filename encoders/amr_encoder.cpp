#include "encoders/amr_encoder.h"

#include <opencore-amrnb/interf_enc.h>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

constexpr char kMagic[] = "#!AMR\n";
constexpr int kDtxOff = 0;

}  // namespace

CAMREncoder::CAMREncoder(const std::string& path) {
    queue_.setChunkBytes(kFrameSamples * 2);
    prepareTarget(path);
    if (!file_.create(path)) throw EncoderException("cannot create file");
    codec_ = Encoder_Interface_init(kDtxOff);
    if (codec_ == nullptr) throw EncoderException("unexpected error");
    // A file without its magic is no AMR file: a failed write (a full disk) is an error.
    if (!file_.write(kMagic, sizeof kMagic - 1)) throw EncoderException("write error");
}

CAMREncoder::~CAMREncoder() {
    if (codec_ != nullptr) Encoder_Interface_exit(codec_);
}

void CAMREncoder::write(const void* data, std::size_t count, std::size_t* written) {
    queue_.push(data, count, [this](const std::uint8_t* b, std::size_t n) { encodeFrame(b, n); });
    if (written != nullptr) *written = count;
}

void CAMREncoder::finish() {
    queue_.drain([this](const std::uint8_t* b, std::size_t n) { encodeFrame(b, n); }, true);
}

void CAMREncoder::encodeFrame(const std::uint8_t* pcm, std::size_t count) {
    std::array<short, kFrameSamples> speech{};
    for (std::size_t i = 0; i < count / 2 && i < kFrameSamples; ++i)
        speech[i] = static_cast<short>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    const int bytes = Encoder_Interface_Encode(codec_, MR122, speech.data(), frame_.data(), 0);
    if (bytes <= 0 || static_cast<std::size_t>(bytes) > frame_.size())
        throw EncoderException("unexpected error");
    // A frame that does not reach the disk must not become a short file reported as success.
    if (!file_.write(frame_.data(), static_cast<std::size_t>(bytes)))
        throw EncoderException("write error");
}

std::unique_ptr<CEncoder> makeAmrEncoder(const std::string& path) {
    return std::make_unique<CAMREncoder>(path);
}

}  // namespace tolvane
