#include "decoders/flac_reader.h"

#include <algorithm>
#include <new>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"
#include "pipeline/source_bounds.h"

namespace tolvane {

// The libFLAC decoder with its file; after construction only the decoding thread touches it,
// except for the atomics the reader writes (pending seek) and reads (position).
class CFLACReader::Decoder {
public:
    explicit Decoder(const std::string& path) : file_(path) {
        if (!file_.isOpen())
            throw ReaderException("cannot open");
        fileSize_ = file_.size();
        owned_.reset(FLAC__stream_decoder_new());
        decoder_ = owned_.get();
        if (decoder_ == nullptr)
            throw std::bad_alloc();
        const auto status = FLAC__stream_decoder_init_stream(
            decoder_, onRead, onSeek, onTell, onLength, onEof, onWrite, onMetadata, onError, this);
        if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            notFlac();
        if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_) ||
            FLAC__stream_decoder_get_state(decoder_) > FLAC__STREAM_DECODER_END_OF_STREAM ||
            info_.rate == 0 || info_.channels == 0)
            notFlac();
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    const StreamInfo& info() const { return info_; }
    int outputBits() const { return info_.bits <= 8 ? 8 : 16; }

    std::atomic<std::int64_t> pendingSeek{-1};  // absolute sample, -1 for none
    std::atomic<std::uint64_t> position{0};     // samples per channel decoded so far

    // The decoding thread's loop.
    void run(PipeWriter& writer) {
        writer_ = &writer;
        for (;;) {
            const std::int64_t target = pendingSeek.exchange(-1);
            if (target >= 0) {
                position = static_cast<std::uint64_t>(target);
                // A decoder stopped by an abort or a failed seek takes no seek until flushed.
                if (FLAC__stream_decoder_get_state(decoder_) > FLAC__STREAM_DECODER_END_OF_STREAM)
                    FLAC__stream_decoder_flush(decoder_);
                if (!FLAC__stream_decoder_seek_absolute(decoder_, FLAC__uint64(target))) {
                    error_ = true;
                    break;
                }
            }
            if (!FLAC__stream_decoder_process_single(decoder_))
                break;
            if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM)
                break;
        }
        if (FLAC__stream_decoder_get_state(decoder_) > FLAC__STREAM_DECODER_END_OF_STREAM)
            error_ = true;
        writer_ = nullptr;
    }

private:
    FileHandle file_;
    std::int64_t fileSize_ = -1;
    struct DecoderDeleter {
        void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
    };
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> owned_;  // deleted on every path
    FLAC__StreamDecoder* decoder_ = nullptr;
    StreamInfo info_;
    bool endOfFile_ = false;
    bool error_ = false;  // a decoding error ended the stream early (kept for debugging)
    PipeWriter* writer_ = nullptr;
    std::vector<std::uint8_t> pcm_;

    [[noreturn]] static void notFlac() { throw ReaderException("not a FLAC file"); }

    static Decoder& self(void* client) { return *static_cast<Decoder*>(client); }

    static FLAC__StreamDecoderReadStatus onRead(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                size_t* bytes, void* client) {
        Decoder& d = self(client);
        if (*bytes == 0)
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        const std::int64_t got = d.file_.read(buffer, *bytes);
        if (got < 0)
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        *bytes = static_cast<size_t>(got);
        if (got == 0) {
            d.endOfFile_ = true;
            return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderSeekStatus onSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                void* client) {
        Decoder& d = self(client);
        if (d.file_.seek(static_cast<std::int64_t>(offset), SEEK_SET) < 0)
            return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        d.endOfFile_ = false;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }

    static FLAC__StreamDecoderTellStatus onTell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                                void* client) {
        const std::int64_t position = self(client).file_.position();
        if (position < 0)
            return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
        *offset = static_cast<FLAC__uint64>(position);
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }

    static FLAC__StreamDecoderLengthStatus onLength(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* length, void* client) {
        const std::int64_t size = self(client).fileSize_;
        if (size < 0)
            return FLAC__STREAM_DECODER_LENGTH_STATUS_ERROR;
        *length = static_cast<FLAC__uint64>(size);
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }

    static FLAC__bool onEof(const FLAC__StreamDecoder*, void* client) {
        return self(client).endOfFile_;
    }

    static void onMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                           void* client) {
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const auto& stream = metadata->data.stream_info;
        StreamInfo& info = self(client).info_;
        info.rate = stream.sample_rate;
        info.channels = stream.channels;
        info.bits = stream.bits_per_sample;
        info.totalSamples = stream.total_samples;
    }

    static void onError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

    static FLAC__StreamDecoderWriteStatus onWrite(const FLAC__StreamDecoder*,
                                                  const FLAC__Frame* frame,
                                                  const FLAC__int32* const samples[],
                                                  void* client) {
        Decoder& d = self(client);
        if (d.writer_ == nullptr || d.writer_->stopRequested())
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        d.interleave(*frame, samples);
        if (!d.writer_->write(d.pcm_.data(), d.pcm_.size())) {
            d.error_ = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        d.position += frame->header.blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    // One frame to interleaved PCM of the output width, in the channel order of the stream.
    // The frame's own width is used, as a frame may differ from STREAMINFO in a broken file;
    // channels beyond STREAMINFO's count are dropped and missing ones filled with silence.
    void interleave(const FLAC__Frame& frame, const FLAC__int32* const samples[]) {
        const unsigned blocks = frame.header.blocksize;
        const unsigned channels = info_.channels;
        const int bits = static_cast<int>(frame.header.bits_per_sample);
        const bool eightBit = outputBits() == 8;
        pcm_.resize(std::size_t(blocks) * channels * (eightBit ? 1 : 2));
        std::uint8_t* out = pcm_.data();
        const int target = eightBit ? 8 : 16;
        for (unsigned i = 0; i < blocks; ++i) {
            for (unsigned c = 0; c < channels; ++c) {
                std::int32_t s = c < frame.header.channels ? samples[c][i] : 0;
                s = bits > target ? s >> (bits - target) : s * (1 << (target - bits));
                if (eightBit) {
                    *out++ = static_cast<std::uint8_t>(s + 128);
                } else {
                    *out++ = static_cast<std::uint8_t>(s);
                    *out++ = static_cast<std::uint8_t>(s >> 8);
                }
            }
        }
    }
};

CFLACReader::CFLACReader(const std::string& path)
    : decoder_(std::make_shared<Decoder>(path)), pipe_("Internal error #280") {
    info_ = decoder_->info();
    sampleRate_ = static_cast<std::int32_t>(info_.rate);
    channels_ = static_cast<std::int32_t>(info_.channels);
    bitsPerSample_ = decoder_->outputBits();
    requireDeliverableFormat(*this);  // before the decoding thread starts
    totalBytes_ = static_cast<std::int32_t>(
        std::min<std::uint64_t>(info_.totalSamples * channels_ * (bitsPerSample_ / 8), INT32_MAX));

    int start = 0;
    if (takeStartPosition(start))
        seek(start);
    pipe_.start([decoder = decoder_](PipeWriter& writer) { decoder->run(writer); },
                "Internal error #281");
}

CFLACReader::~CFLACReader() = default;

std::size_t CFLACReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t frameBytes = std::size_t(channels_) * (bitsPerSample_ / 8);
    const std::size_t got = pipe_.read(buffer, count - count % frameBytes);
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

// A stream shorter than one second starts again at 0; a second past the end ends the stream.
void CFLACReader::seek(int second) {
    std::int64_t target = std::int64_t(std::max(second, 0)) * info_.rate;
    if (length() == 0)
        target = 0;
    // The decoding thread stops and starts again from the target: what the pipe held from the old
    // position is dropped, and a seek after the end of the stream still works.
    pipe_.restart([&] {
        decoder_->pendingSeek = target;
        decoder_->position = static_cast<std::uint64_t>(target);
    });
}

int CFLACReader::tell() {
    return static_cast<int>(decoder_->position / info_.rate);
}

int CFLACReader::length() {
    return static_cast<int>(info_.totalSamples / info_.rate);
}

int flacDurationOf(const std::string& path) {
    try {
        // Only the metadata is read; no thread is needed for the duration.
        const CFLACReader::StreamInfo info = CFLACReader::Decoder(path).info();
        return static_cast<int>(info.totalSamples / info.rate);
    } catch (...) {
        return 0;
    }
}

std::unique_ptr<CReader> makeFlacReader(const std::string& path) {
    return std::make_unique<CFLACReader>(path);
}
int flacDuration(const std::string& path) {
    return flacDurationOf(path);
}

}  // namespace tolvane
