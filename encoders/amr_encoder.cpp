#include "encoders/amr_encoder.h"

#include <opencore-amrnb/interf_enc.h>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

constexpr char kMagic[] = "#!AMR\n";
constexpr int kDtxOff = 0;
constexpr std::size_t kFramePcmBytes = CAMREncoder::kFrameSamples * 2;

}  // namespace

void CAMREncoder::CodecDeleter::operator()(void* state) const {
    Encoder_Interface_exit(state);
}

CAMREncoder::CAMREncoder(const std::string& path) {
    queue_.setChunkBytes(kFramePcmBytes);
    prepareTarget(path);
    if (!file_.create(path))
        throw EncoderException("cannot create file");
    codec_.reset(Encoder_Interface_init(kDtxOff));
    if (codec_ == nullptr)
        throw EncoderException("unexpected error");
    // A file without its magic is no AMR file: a failed write (a full disk) is an error.
    if (!file_.write(kMagic, sizeof kMagic - 1))
        throw EncoderException("write error");
    block_.reserve(kBlockFrames * kFramePcmBytes);
    coder_ = std::make_unique<CodingThread>(
        [this](const std::vector<std::uint8_t>& block) { codeBlock(block); });
}

CAMREncoder::~CAMREncoder() {
    if (coder_ == nullptr || finished_)
        return;
    try {
        // The frames already complete still reach the file; errors have nobody to go to now.
        submitBlock();
    } catch (...) {
    }
}

void CAMREncoder::write(const void* data, std::size_t count, std::size_t* written) {
    queue_.push(data, count, [this](const std::uint8_t* b, std::size_t n) { collectFrame(b, n); });
    if (written != nullptr)
        *written = count;
}

void CAMREncoder::finish() {
    if (finished_)
        return;
    queue_.drain([this](const std::uint8_t* b, std::size_t n) { collectFrame(b, n); }, true);
    finished_ = true;
    submitBlock();
    coder_->close();
}

void CAMREncoder::collectFrame(const std::uint8_t* pcm, std::size_t count) {
    block_.insert(block_.end(), pcm, pcm + count);
    if (block_.size() >= kBlockFrames * kFramePcmBytes)
        submitBlock();
}

void CAMREncoder::submitBlock() {
    if (block_.empty())
        return;
    std::vector<std::uint8_t> block;
    block.reserve(kBlockFrames * kFramePcmBytes);
    block.swap(block_);
    coder_->submit(std::move(block));
}

// On the coding thread: one frame per 160 samples, each written as soon as it is coded.
void CAMREncoder::codeBlock(const std::vector<std::uint8_t>& block) {
    std::array<short, kFrameSamples> speech;
    for (std::size_t at = 0; at + kFramePcmBytes <= block.size(); at += kFramePcmBytes) {
        for (std::size_t i = 0; i < kFrameSamples; ++i)
            speech[i] = static_cast<short>(block[at + 2 * i] | block[at + 2 * i + 1] << 8);
        const int bytes =
            Encoder_Interface_Encode(codec_.get(), MR122, speech.data(), frame_.data(), 0);
        if (bytes <= 0 || static_cast<std::size_t>(bytes) > frame_.size())
            throw EncoderException("unexpected error");
        // A frame that does not reach the disk must not become a short file reported as success.
        if (!file_.write(frame_.data(), static_cast<std::size_t>(bytes)))
            throw EncoderException("write error");
    }
}

std::unique_ptr<CEncoder> makeAmrEncoder(const std::string& path) {
    return std::make_unique<CAMREncoder>(path);
}

}  // namespace tolvane
