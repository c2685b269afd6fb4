#include "decoders/wma_reader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"
#include "pipeline/source_bounds.h"
#include "platform/paths.h"

namespace tolvane {
namespace {

using namespace wmv;

constexpr std::int64_t kHundredNs = 10'000'000;

// Releases a runtime interface when it goes out of scope.
template <class T>
class Held {
public:
    Held() = default;
    ~Held() { reset(); }
    Held(Held&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T** out() {
        reset();
        return &p_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset() {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

[[noreturn]] void fail(const char* message) {
    throw ReaderException(message);
}

std::mutex runtimeMutex;
CreateSyncReaderFunction runtimeEntry = nullptr;

// Loads the runtime from the application folder once per process; a failure is tried again next
// time.
CreateSyncReaderFunction runtime() {
    {
        std::lock_guard lock(runtimeMutex);
        if (runtimeEntry != nullptr)
            return runtimeEntry;
    }
    CreateSyncReaderFunction entry = loadWmaRuntimeFrom(platform::applicationFolder());
    std::lock_guard lock(runtimeMutex);
    runtimeEntry = entry;
    return entry;
}

Held<IWMSyncReader> createReader(CreateSyncReaderFunction create) {
    Held<IWMSyncReader> reader;
    if (failed(create(nullptr, 0, reader.out())) || reader.get() == nullptr)
        fail("cannot access WMA decoding library");
    return reader;
}

void openFile(IWMSyncReader& reader, const std::string& path) {
    const HRESULT hr = reader.Open(path.c_str());
    if (hr == NS_E_PROTECTED_CONTENT)
        fail("cannot open, file is digitally protected (DRM)");
    if (failed(hr))
        fail("cannot open file");
}

// The number of the file's last audio stream; 0 when there is none.
std::uint16_t findAudioStream(IWMSyncReader& reader) {
    Held<IWMProfile> profile;
    std::uint32_t count = 0;
    if (failed(reader.QueryInterface(IID_IWMProfile, profile.outVoid())) ||
        failed(profile->GetStreamCount(&count)))
        fail("Internal error #201");
    std::uint16_t audio = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        Held<IWMStreamConfig> config;
        if (failed(profile->GetStream(i, config.out())))
            fail("Internal error #202");
        std::uint16_t number = 0;
        if (failed(config->GetStreamNumber(&number)))
            fail("Internal error #203");
        GUID type{};
        if (failed(config->GetStreamType(&type)))
            fail("Internal error #204");
        if (type == WMMEDIATYPE_Audio)
            audio = number;  // the last audio stream wins
    }
    return audio;
}

// The "Duration" attribute in 100-ns units; false when it cannot be read.
bool readDuration(IWMSyncReader& reader, std::uint64_t& duration) {
    Held<IWMHeaderInfo> header;
    if (failed(reader.QueryInterface(IID_IWMHeaderInfo, header.outVoid())))
        return false;
    std::uint16_t stream = 0;
    WMT_ATTR_DATATYPE type = WMT_TYPE_QWORD;
    std::uint16_t length = sizeof duration;
    return !failed(header->GetAttributeByName(
               &stream, "Duration", &type, reinterpret_cast<std::uint8_t*>(&duration), &length)) &&
           length == sizeof duration;
}

WAVEFORMATEX readOutputFormat(IWMSyncReader& reader, std::uint16_t stream) {
    std::uint32_t output = 0;
    if (failed(reader.GetOutputNumberForStream(stream, &output)))
        fail("Internal error #206");
    Held<IWMOutputMediaProps> props;
    if (failed(reader.GetOutputProps(output, props.out())))
        fail("Internal error #207");
    alignas(8) std::uint8_t buffer[1024];
    std::uint32_t size = sizeof buffer;
    auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer);
    if (failed(props->GetMediaType(type, &size)))
        fail("Internal error #208");
    if (!(type->formattype == FORMAT_WaveFormatEx) || type->pbFormat == nullptr ||
        type->cbFormat < sizeof(WAVEFORMATEX) - 2)
        fail("Internal error #209");
    WAVEFORMATEX format{};
    std::memcpy(&format, type->pbFormat, std::min<std::size_t>(type->cbFormat, sizeof format));
    return format;
}

}  // namespace

CreateSyncReaderFunction loadWmaRuntimeFrom(const std::string& folder) {
    const std::string path = folder + "/wmvcore.so";
    void* library = folder.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        fail(
            "WMA decoding libraries aren't installed. Please download and install full version "
            "of Orvel.");
    auto entry = reinterpret_cast<CreateSyncReaderFunction>(dlsym(library, kCreateSyncReaderName));
    if (entry == nullptr) {
        dlclose(library);
        fail("Internal error #521");
    }
    return entry;
}

CWmaReader::Source::~Source() {
    if (reader != nullptr) {
        reader->Close();
        reader->Release();
    }
}

CWmaReader::CWmaReader(const std::string& path) : CWmaReader(path, runtime()) {}

CWmaReader::CWmaReader(const std::string& path, CreateSyncReaderFunction runtime)
    : source_(std::make_shared<Source>()), pipe_("Internal error #210") {
    source_->reader = createReader(runtime).release();
    IWMSyncReader& reader = *source_->reader;
    openFile(reader, path);
    source_->stream = findAudioStream(reader);
    if (source_->stream == 0)
        fail("cannot decode: no audio streams found in file");
    if (!readDuration(reader, duration_))
        fail("Internal error #205");
    format_ = readOutputFormat(reader, source_->stream);
    if (format_.nChannels == 0 || format_.nSamplesPerSec == 0 ||
        (format_.wBitsPerSample != 8 && format_.wBitsPerSample != 16))
        fail("Internal error #209");

    sampleRate_ = static_cast<std::int32_t>(format_.nSamplesPerSec);
    channels_ = format_.nChannels;
    bitsPerSample_ = format_.wBitsPerSample;
    // The runtime decodes whole frames of the stated channels before anything reads them.
    requireDeliverableFormat(*this);
    // An estimate from the duration; the extra 5000 bytes are part of the value.
    const std::uint64_t bytes =
        std::uint64_t(bitsPerSample_ / 8) * channels_ * sampleRate_ * duration_ / kHundredNs + 5000;
    totalBytes_ = static_cast<std::int32_t>(std::min<std::uint64_t>(bytes, INT32_MAX));

    int start = 0;
    if (takeStartPosition(start))
        source_->startSecond = std::max(start, 0);
    pipe_.start([source = source_](PipeWriter& writer) { decode(*source, writer); },
                "Internal error #211");
}

CWmaReader::~CWmaReader() = default;

void CWmaReader::decode(Source& source, PipeWriter& writer) {
    IWMSyncReader& reader = *source.reader;
    const WMT_STREAM_SELECTION on = WMT_ON;
    if (failed(reader.SetStreamsSelected(1, &source.stream, &on)) ||
        failed(reader.SetReadStreamSamples(source.stream, false)))
        return;
    const int start = source.startSecond.exchange(-1);
    if (start >= 0) {
        reader.SetRange(std::uint64_t(start) * kHundredNs, 0);
        source.positionSeconds = start;
    }
    while (!writer.stopRequested()) {
        Held<INSSBuffer> sample;
        std::uint64_t time = 0, duration = 0;
        std::uint32_t flags = 0, output = 0;
        std::uint16_t stream = 0;
        if (failed(reader.GetNextSample(source.stream, sample.out(), &time, &duration, &flags,
                                        &output, &stream)))
            break;
        std::uint8_t* bytes = nullptr;
        std::uint32_t length = 0;
        if (failed(sample->GetBufferAndLength(&bytes, &length)))
            break;
        if (!writer.write(bytes, length))
            break;
        source.positionSeconds = static_cast<int>(time / kHundredNs);
    }
}

std::size_t CWmaReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t frameBytes = std::size_t(channels_) * (bitsPerSample_ / 8);
    const std::size_t got = pipe_.read(buffer, count - count % frameBytes);
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

// The decoding thread stops, the runtime takes the new range from this thread, and the thread
// starts again: what the pipe held from the old position is dropped, and a seek after the end of
// the stream still works.
void CWmaReader::seek(int second) {
    second = std::max(second, 0);
    pipe_.restart([&] {
        source_->reader->SetRange(std::uint64_t(second) * kHundredNs, 0);
        source_->positionSeconds = second;
    });
}

int CWmaReader::tell() {
    return source_->positionSeconds;
}

int CWmaReader::length() {
    return static_cast<int>(duration_ / kHundredNs);
}

int wmaDurationOf(const std::string& path) {
    try {
        Held<IWMSyncReader> reader = createReader(runtime());
        openFile(*reader.get(), path);
        std::uint64_t duration = 0;
        if (findAudioStream(*reader.get()) == 0 || !readDuration(*reader.get(), duration))
            return 0;
        reader->Close();
        return static_cast<int>(duration / kHundredNs);
    } catch (const AppException&) {
        return 0;
    }
}

std::unique_ptr<CReader> makeWmaReader(const std::string& path) {
    return std::make_unique<CWmaReader>(path);
}
int wmaDuration(const std::string& path) {
    return wmaDurationOf(path);
}

}  // namespace tolvane
