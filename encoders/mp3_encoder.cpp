#include "encoders/mp3_encoder.h"

#include <dlfcn.h>

#include <array>
#include <mutex>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane {
namespace {

constexpr const char* kLibraryName = "lame_enc.so";

// The library and its entry points, loaded by the first MP3 encoder of the process.
struct LameLibrary {
    void* handle = nullptr;
    BeInitStreamFn init = nullptr;
    BeEncodeChunkFn encode = nullptr;
    BeDeinitStreamFn deinit = nullptr;
    BeCloseStreamFn close = nullptr;

    bool complete() const {
        return init != nullptr && encode != nullptr && deinit != nullptr && close != nullptr;
    }
};

std::mutex libraryMutex;
LameLibrary library;
std::optional<std::string> folderForTesting;

std::string libraryPath() {
    std::string folder = folderForTesting ? *folderForTesting : platform::applicationFolder();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + kLibraryName;
}

template <typename Fn>
Fn entryPoint(void* handle, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

// Loads the library unless it is already loaded with all four entry points. A library that
// lacks one stays loaded: every later encoder finds it broken again.
const LameLibrary& loadLibrary() {
    std::lock_guard lock(libraryMutex);
    if (library.complete())
        return library;
    void* handle = ::dlopen(libraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw EncoderException("MP3 libraries are not installed");
    library.handle = handle;
    library.init = entryPoint<BeInitStreamFn>(handle, "beInitStream");
    library.encode = entryPoint<BeEncodeChunkFn>(handle, "beEncodeChunk");
    library.deinit = entryPoint<BeDeinitStreamFn>(handle, "beDeinitStream");
    library.close = entryPoint<BeCloseStreamFn>(handle, "beCloseStream");
    if (!library.complete())
        throw EncoderException("MP3 libraries are broken");
    return library;
}

void putLe32(std::array<std::uint8_t, BE_CONFIG_SIZE>& record, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Mono, constant bit rate, MPEG-1 requested, the output rate left to the library; every other
// field stays 0.
std::array<std::uint8_t, BE_CONFIG_SIZE> streamConfiguration(std::int32_t sampleRate, int bitrate) {
    std::array<std::uint8_t, BE_CONFIG_SIZE> record{};
    putLe32(record, BE_CFG_KIND, BE_CONFIG_KIND_LAME);
    putLe32(record, BE_CFG_VERSION, BE_CONFIG_VERSION);
    putLe32(record, BE_CFG_SIZE, BE_CONFIG_SIZE);
    putLe32(record, BE_CFG_SAMPLE_RATE, static_cast<std::uint32_t>(sampleRate));
    putLe32(record, BE_CFG_OUT_SAMPLE_RATE, 0);
    putLe32(record, BE_CFG_MODE, BE_MODE_MONO);
    putLe32(record, BE_CFG_BITRATE, static_cast<std::uint32_t>(bitrate));
    putLe32(record, BE_CFG_MPEG_VERSION, BE_MPEG1);
    return record;
}

}  // namespace

void setMp3LibraryFolderForTesting(std::optional<std::string> folder) {
    std::lock_guard lock(libraryMutex);
    folderForTesting = std::move(folder);
}

void unloadMp3LibraryForTesting() {
    std::lock_guard lock(libraryMutex);
    if (library.handle != nullptr)
        ::dlclose(library.handle);
    library = LameLibrary{};
}

CMP3Encoder::CMP3Encoder(const std::string& path) {
    loadLibrary();
    prepareTarget(path);
    if (!file_.create(path))
        throw EncoderException("cannot create file");
}

CMP3Encoder::~CMP3Encoder() {
    if (stream_ != nullptr)
        library.close(stream_);
}

void CMP3Encoder::openStream() {
    const auto config = streamConfiguration(sampleRate_, bitrate_);
    std::uint32_t samplesPerChunk = 0;
    std::uint32_t outputSize = 0;
    BeStream stream = nullptr;
    if (library.init(config.data(), &samplesPerChunk, &outputSize, &stream) != BE_OK)
        throw EncoderException("unable to encode");
    stream_ = stream;
    // The chunks are handed over from a buffer of BE_MAX_CHUNK_SAMPLES samples; a library asking
    // for more (or for nothing) cannot be driven safely.
    if (samplesPerChunk == 0 || samplesPerChunk > BE_MAX_CHUNK_SAMPLES || outputSize == 0)
        throw EncoderException("unable to encode");
    output_.resize(outputSize);
    queue_.setChunkBytes(samplesPerChunk * 2);
    streamPending_ = false;
}

void CMP3Encoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (streamPending_)
        openStream();
    queue_.push(data, count, [this](const std::uint8_t* b, std::size_t n) { encodeChunk(b, n); });
    if (written != nullptr)
        *written = count;
}

void CMP3Encoder::encodeChunk(const std::uint8_t* bytes, std::size_t count) {
    std::array<std::int16_t, BE_MAX_CHUNK_SAMPLES> samples;
    const std::size_t sampleCount = count / 2;
    for (std::size_t i = 0; i < sampleCount; ++i)
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    std::uint32_t produced = 0;
    // A chunk the library failed to encode would leave a silent hole in the ringtone.
    if (library.encode(stream_, static_cast<std::uint32_t>(sampleCount), samples.data(),
                       output_.data(), &produced) != BE_OK)
        throw EncoderException("unexpected error");
    writeOutput(produced);
}

void CMP3Encoder::writeOutput(std::uint32_t produced) {
    if (produced > output_.size())
        throw EncoderException("unexpected error");
    if (produced > 0 && !file_.write(output_.data(), produced))
        throw EncoderException("write error");
}

void CMP3Encoder::finish() {
    // Nothing was ever written: there is no stream and the file stays empty.
    if (streamPending_ || flushed_)
        return;
    queue_.drain([this](const std::uint8_t* b, std::size_t n) { encodeChunk(b, n); }, false);
    flushed_ = true;
    std::uint32_t produced = 0;
    if (library.deinit(stream_, output_.data(), &produced) != BE_OK)
        throw EncoderException("unexpected error");
    writeOutput(produced);
}

std::unique_ptr<CEncoder> makeMediumMp3Encoder(const std::string& path) {
    auto encoder = std::make_unique<CMP3Encoder>(path);
    encoder->setBitrate(CMP3Encoder::kMediumBitrate);
    return encoder;
}

std::unique_ptr<CEncoder> makeHighMp3Encoder(const std::string& path) {
    auto encoder = std::make_unique<CMP3Encoder>(path);
    encoder->setBitrate(CMP3Encoder::kHighBitrate);
    return encoder;
}

}  // namespace tolvane
