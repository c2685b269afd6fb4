// wmvcore.so: a synchronous reader of ASF (WMA) files over FFmpeg, with the interface of
// wmvcore.h. One reader decodes one selected audio stream to 16-bit interleaved PCM.
#include "plugins/wmvcore/wmvcore.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace wmv {
namespace {

constexpr std::int64_t kHundredNs = 10'000'000;  // 100-ns units per second
const AVRational kHundredNsBase = {1, 10'000'000};

void guidBytes(const GUID& guid, std::uint8_t out[16]) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(guid.data1 >> (8 * i));
    for (int i = 0; i < 2; ++i)
        out[4 + i] = static_cast<std::uint8_t>(guid.data2 >> (8 * i));
    for (int i = 0; i < 2; ++i)
        out[6 + i] = static_cast<std::uint8_t>(guid.data3 >> (8 * i));
    std::memcpy(out + 8, guid.data4, 8);
}

bool sameGuid(const std::uint8_t* bytes, const GUID& guid) {
    std::uint8_t expected[16];
    guidBytes(guid, expected);
    return std::memcmp(bytes, expected, 16) == 0;
}

constexpr GUID kAsfHeaderObject = {
    0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr GUID kContentEncryptionObject = {
    0x2211B3FB, 0xBD23, 0x11D2, {0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E}};
constexpr GUID kExtendedContentEncryptionObject = {
    0x298AE614, 0x2622, 0x4C17, {0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C}};

std::uint64_t le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// True when the file's ASF header carries a content encryption object (a DRM-protected file).
bool isProtected(const char* path) {
    std::FILE* file = std::fopen(path, "rbe");
    if (file == nullptr)
        return false;
    std::uint8_t header[30];
    bool found = false;
    if (std::fread(header, 1, sizeof header, file) == sizeof header &&
        sameGuid(header, kAsfHeaderObject)) {
        const std::uint64_t headerEnd = le64(header + 16);
        std::uint64_t offset = sizeof header;
        std::uint8_t object[24];
        while (!found && offset + sizeof object <= headerEnd &&
               std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fread(object, 1, sizeof object, file) == sizeof object) {
            found = sameGuid(object, kContentEncryptionObject) ||
                    sameGuid(object, kExtendedContentEncryptionObject);
            const std::uint64_t size = le64(object + 16);
            if (size < sizeof object)
                break;
            offset += size;
        }
    }
    std::fclose(file);
    return found;
}

template <class Interface>
class RefCounted : public Interface {
public:
    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<std::uint32_t> references_{1};
};

template <class Interface>
HRESULT hand(Interface* object, void** out) {
    object->AddRef();
    *out = object;
    return S_OK;
}

class Buffer final : public RefCounted<INSSBuffer> {
public:
    explicit Buffer(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    HRESULT QueryInterface(const GUID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) override {
        if (buffer == nullptr || length == nullptr)
            return E_INVALIDARG;
        *buffer = bytes_.data();
        *length = static_cast<std::uint32_t>(bytes_.size());
        return S_OK;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

class StreamConfig final : public RefCounted<IWMStreamConfig> {
public:
    StreamConfig(const GUID& type, std::uint16_t number) : type_(type), number_(number) {}
    HRESULT QueryInterface(const GUID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetStreamType(GUID* type) override {
        if (type == nullptr)
            return E_INVALIDARG;
        *type = type_;
        return S_OK;
    }
    HRESULT GetStreamNumber(std::uint16_t* number) override {
        if (number == nullptr)
            return E_INVALIDARG;
        *number = number_;
        return S_OK;
    }

private:
    GUID type_;
    std::uint16_t number_;
};

class OutputProps final : public RefCounted<IWMOutputMediaProps> {
public:
    explicit OutputProps(const WAVEFORMATEX& format) : format_(format) {}
    HRESULT QueryInterface(const GUID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetMediaType(WM_MEDIA_TYPE* type, std::uint32_t* size) override {
        if (size == nullptr)
            return E_INVALIDARG;
        const std::uint32_t needed = sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX);
        if (type == nullptr) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) {
            *size = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        auto* format = reinterpret_cast<std::uint8_t*>(type) + sizeof(WM_MEDIA_TYPE);
        *type = WM_MEDIA_TYPE{WMMEDIATYPE_Audio,
                              WMMEDIASUBTYPE_PCM,
                              1,
                              0,
                              format_.nBlockAlign,
                              FORMAT_WaveFormatEx,
                              nullptr,
                              sizeof(WAVEFORMATEX),
                              format};
        std::memcpy(format, &format_, sizeof format_);
        *size = needed;
        return S_OK;
    }

private:
    WAVEFORMATEX format_;
};

// The decoder of the selected stream: packets in, 16-bit interleaved PCM with start times out.
class StreamDecoder {
public:
    ~StreamDecoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        swr_free(&resampler_);
        avcodec_free_context(&codec_);
    }

    HRESULT open(AVFormatContext* format, int index) {
        format_ = format;
        index_ = index;
        const AVCodecParameters* par = format->streams[index]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        if (decoder == nullptr)
            return NS_E_INVALID_DATA;
        codec_ = avcodec_alloc_context3(decoder);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (codec_ == nullptr || frame_ == nullptr || packet_ == nullptr)
            return E_OUTOFMEMORY;
        if (avcodec_parameters_to_context(codec_, par) < 0 ||
            avcodec_open2(codec_, decoder, nullptr) < 0)
            return NS_E_INVALID_DATA;
        channels_ = par->ch_layout.nb_channels;
        rate_ = par->sample_rate;
        return S_OK;
    }

    // Repositions at `start` (100 ns); samples before it are dropped.
    void seek(std::uint64_t start) {
        const AVRational base = format_->streams[index_]->time_base;
        const std::int64_t ts =
            av_rescale_q(static_cast<std::int64_t>(start), kHundredNsBase, base);
        av_seek_frame(format_, index_, ts, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec_);
        dropBefore_ = static_cast<std::int64_t>(start);
        nextTime_.reset();
        ended_ = false;
    }

    // The next piece of PCM and its start time; NS_E_NO_MORE_SAMPLES at the end.
    HRESULT next(std::vector<std::uint8_t>& pcm, std::uint64_t& time, std::uint64_t& duration) {
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame_);
            if (received == 0) {
                const HRESULT hr = convert(pcm, time, duration);
                av_frame_unref(frame_);
                if (failed(hr))
                    return hr;
                if (!pcm.empty())
                    return S_OK;
                continue;
            }
            if (received != AVERROR(EAGAIN))
                return NS_E_NO_MORE_SAMPLES;
            if (!feed())
                return NS_E_NO_MORE_SAMPLES;
        }
    }

private:
    AVFormatContext* format_ = nullptr;
    int index_ = -1;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwrContext* resampler_ = nullptr;
    int channels_ = 0;
    int rate_ = 0;
    std::int64_t dropBefore_ = 0;
    std::optional<std::int64_t> nextTime_;  // 100 ns, when frames carry no time
    bool ended_ = false;

    bool feed() {
        if (ended_)
            return false;
        for (;;) {
            if (av_read_frame(format_, packet_) < 0) {
                ended_ = true;
                return avcodec_send_packet(codec_, nullptr) == 0;
            }
            if (packet_->stream_index != index_) {
                av_packet_unref(packet_);
                continue;
            }
            const int sent = avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
            if (sent == 0 || sent == AVERROR(EAGAIN))
                return true;
            // A damaged packet is skipped; the next one may decode.
        }
    }

    HRESULT convert(std::vector<std::uint8_t>& pcm, std::uint64_t& time, std::uint64_t& duration) {
        if (resampler_ == nullptr) {
            AVChannelLayout layout;
            av_channel_layout_default(&layout, channels_);
            if (swr_alloc_set_opts2(&resampler_, &layout, AV_SAMPLE_FMT_S16, rate_,
                                    &frame_->ch_layout, static_cast<AVSampleFormat>(frame_->format),
                                    frame_->sample_rate, 0, nullptr) < 0 ||
                swr_init(resampler_) < 0)
                return NS_E_INVALID_DATA;
        }
        const int frameBytes = channels_ * 2;
        pcm.resize(std::size_t(frame_->nb_samples) * frameBytes);
        std::uint8_t* out = pcm.data();
        const int samples = swr_convert(resampler_, &out, frame_->nb_samples,
                                        const_cast<const std::uint8_t**>(frame_->extended_data),
                                        frame_->nb_samples);
        if (samples < 0)
            return NS_E_INVALID_DATA;
        pcm.resize(std::size_t(samples) * frameBytes);

        const std::int64_t pts = frame_->best_effort_timestamp;
        std::int64_t start =
            pts != AV_NOPTS_VALUE
                ? av_rescale_q(pts, format_->streams[index_]->time_base, kHundredNsBase)
                : nextTime_.value_or(0);
        const std::int64_t length = std::int64_t(samples) * kHundredNs / rate_;
        nextTime_ = start + length;
        if (start < dropBefore_) {
            const std::int64_t drop = (dropBefore_ - start) * rate_ / kHundredNs;
            const std::size_t bytes =
                std::min<std::size_t>(std::size_t(drop) * frameBytes, pcm.size());
            pcm.erase(pcm.begin(), pcm.begin() + static_cast<long>(bytes));
            start = dropBefore_;
        }
        time = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
        duration = pcm.size() / frameBytes * kHundredNs / rate_;
        return S_OK;
    }
};

class SyncReader final : public RefCounted<IWMSyncReader>, public IWMProfile, public IWMHeaderInfo {
public:
    ~SyncReader() override { closeFile(); }

    HRESULT QueryInterface(const GUID& iid, void** object) override {
        if (object == nullptr)
            return E_INVALIDARG;
        if (iid == IID_IWMProfile)
            return hand(static_cast<IWMProfile*>(this), object);
        if (iid == IID_IWMHeaderInfo)
            return hand(static_cast<IWMHeaderInfo*>(this), object);
        *object = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return RefCounted<IWMSyncReader>::AddRef(); }
    std::uint32_t Release() override { return RefCounted<IWMSyncReader>::Release(); }

    HRESULT Open(const char* path) override {
        std::lock_guard lock(mutex_);
        if (path == nullptr)
            return E_INVALIDARG;
        closeFile();
        if (isProtected(path))
            return NS_E_PROTECTED_CONTENT;
        if (avformat_open_input(&format_, path, av_find_input_format("asf"), nullptr) < 0)
            return NS_E_FILE_OPEN_FAILED;
        if (avformat_find_stream_info(format_, nullptr) < 0) {
            closeFile();
            return NS_E_INVALID_DATA;
        }
        return S_OK;
    }

    HRESULT Close() override {
        std::lock_guard lock(mutex_);
        closeFile();
        return S_OK;
    }

    // IWMProfile
    HRESULT GetStreamCount(std::uint32_t* count) override {
        if (count == nullptr || format_ == nullptr)
            return E_UNEXPECTED;
        *count = format_->nb_streams;
        return S_OK;
    }
    HRESULT GetStream(std::uint32_t index, IWMStreamConfig** config) override {
        if (config == nullptr || format_ == nullptr || index >= format_->nb_streams)
            return E_INVALIDARG;
        const AVStream* stream = format_->streams[index];
        const GUID type = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO   ? WMMEDIATYPE_Audio
                          : stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? WMMEDIATYPE_Video
                                                                               : GUID{};
        *config = new (std::nothrow) StreamConfig(type, streamNumber(index));
        return *config == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    // IWMHeaderInfo: the file's "Duration" (stream 0), a QWORD in 100-ns units.
    HRESULT GetAttributeByName(std::uint16_t* streamNumber, const char* name,
                               WMT_ATTR_DATATYPE* type, std::uint8_t* value,
                               std::uint16_t* length) override {
        if (streamNumber == nullptr || name == nullptr || type == nullptr || length == nullptr)
            return E_INVALIDARG;
        if (format_ == nullptr || *streamNumber != 0 || std::strcmp(name, "Duration") != 0 ||
            format_->duration == AV_NOPTS_VALUE || format_->duration <= 0)
            return E_FAIL;
        const std::uint64_t duration = static_cast<std::uint64_t>(
            av_rescale_q(format_->duration, AV_TIME_BASE_Q, kHundredNsBase));
        *type = WMT_TYPE_QWORD;
        if (value == nullptr) {
            *length = sizeof duration;
            return S_OK;
        }
        if (*length < sizeof duration)
            return ASF_E_BUFFERTOOSMALL;
        std::memcpy(value, &duration, sizeof duration);
        *length = sizeof duration;
        return S_OK;
    }

    HRESULT SetRange(std::uint64_t start, std::int64_t) override {
        std::lock_guard lock(mutex_);
        if (format_ == nullptr)
            return E_UNEXPECTED;
        pendingStart_ = start;
        return S_OK;
    }

    HRESULT GetNextSample(std::uint16_t number, INSSBuffer** sample, std::uint64_t* sampleTime,
                          std::uint64_t* sampleDuration, std::uint32_t* flags,
                          std::uint32_t* outputNumber, std::uint16_t* numberOut) override {
        std::lock_guard lock(mutex_);
        if (sample == nullptr || sampleTime == nullptr || sampleDuration == nullptr)
            return E_INVALIDARG;
        *sample = nullptr;
        if (format_ == nullptr || selected_ < 0 || number != streamNumber(selected_))
            return E_UNEXPECTED;
        if (!decoder_) {
            decoder_.emplace();
            const HRESULT hr = decoder_->open(format_, selected_);
            if (failed(hr)) {
                decoder_.reset();
                return hr;
            }
        }
        if (pendingStart_) {
            decoder_->seek(*pendingStart_);
            pendingStart_.reset();
        }
        std::vector<std::uint8_t> pcm;
        const HRESULT hr = decoder_->next(pcm, *sampleTime, *sampleDuration);
        if (failed(hr))
            return hr;
        *sample = new (std::nothrow) Buffer(std::move(pcm));
        if (*sample == nullptr)
            return E_OUTOFMEMORY;
        if (flags != nullptr)
            *flags = 0;
        if (outputNumber != nullptr)
            *outputNumber = static_cast<std::uint32_t>(selected_);
        if (numberOut != nullptr)
            *numberOut = number;
        return S_OK;
    }

    HRESULT SetStreamsSelected(std::uint16_t count, const std::uint16_t* numbers,
                               const WMT_STREAM_SELECTION* selections) override {
        std::lock_guard lock(mutex_);
        if (format_ == nullptr || numbers == nullptr || selections == nullptr)
            return E_INVALIDARG;
        for (std::uint16_t i = 0; i < count; ++i) {
            const int index = indexOf(numbers[i]);
            if (index < 0)
                return E_INVALIDARG;
            if (selections[i] == WMT_OFF && selected_ == index)
                selected_ = -1;
            if (selections[i] != WMT_OFF) {
                if (format_->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
                    return E_INVALIDARG;
                if (selected_ != index)
                    decoder_.reset();
                selected_ = index;
            }
        }
        return S_OK;
    }

    HRESULT SetReadStreamSamples(std::uint16_t number, bool compressed) override {
        // Only uncompressed samples are offered.
        return indexOf(number) < 0 || compressed ? E_INVALIDARG : S_OK;
    }

    HRESULT GetOutputNumberForStream(std::uint16_t number, std::uint32_t* output) override {
        const int index = indexOf(number);
        if (output == nullptr || index < 0)
            return E_INVALIDARG;
        *output = static_cast<std::uint32_t>(index);
        return S_OK;
    }

    HRESULT GetOutputProps(std::uint32_t output, IWMOutputMediaProps** props) override {
        if (props == nullptr || format_ == nullptr || output >= format_->nb_streams)
            return E_INVALIDARG;
        const AVCodecParameters* par = format_->streams[output]->codecpar;
        const int channels = par->ch_layout.nb_channels;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO || channels <= 0 || par->sample_rate <= 0)
            return NS_E_INVALID_DATA;
        WAVEFORMATEX format{};
        format.wFormatTag = 1;
        format.nChannels = static_cast<std::uint16_t>(channels);
        format.nSamplesPerSec = static_cast<std::uint32_t>(par->sample_rate);
        format.wBitsPerSample = 16;
        format.nBlockAlign = static_cast<std::uint16_t>(channels * 2);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        *props = new (std::nothrow) OutputProps(format);
        return *props == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    std::mutex mutex_;  // SetRange comes from another thread than GetNextSample
    AVFormatContext* format_ = nullptr;
    int selected_ = -1;
    std::optional<StreamDecoder> decoder_;
    std::optional<std::uint64_t> pendingStart_;

    void closeFile() {
        decoder_.reset();
        avformat_close_input(&format_);
        selected_ = -1;
        pendingStart_.reset();
    }

    // ASF numbers its streams from 1; FFmpeg keeps the number as the stream's id.
    std::uint16_t streamNumber(int index) const {
        const int id = format_->streams[index]->id;
        return static_cast<std::uint16_t>(id > 0 ? id : index + 1);
    }

    int indexOf(std::uint16_t number) const {
        if (format_ == nullptr)
            return -1;
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (streamNumber(static_cast<int>(i)) == number)
                return static_cast<int>(i);
        return -1;
    }
};

}  // namespace
}  // namespace wmv

extern "C" __attribute__((visibility("default"))) wmv::HRESULT WMCreateSyncReader(
    wmv::IUnknown* /*certificate*/, std::uint32_t /*rights*/, wmv::IWMSyncReader** reader) {
    if (reader == nullptr)
        return wmv::E_INVALIDARG;
    av_log_set_level(AV_LOG_QUIET);
    *reader = new (std::nothrow) wmv::SyncReader();
    return *reader == nullptr ? wmv::E_OUTOFMEMORY : wmv::S_OK;
}
