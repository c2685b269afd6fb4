// The WMA reader's answer to each failure of the runtime, driven by a scripted runtime that fails
// at one chosen step.
#include <gtest/gtest.h>

#include "decoders/wma_reader.h"
#include "pipeline/app_exception.h"

namespace tolvane::test {
namespace {

using namespace wmv;

enum class Step {
    None,
    Create,
    OpenProtected,
    Open,
    Profile,
    StreamCount,
    GetStream,
    StreamNumber,
    StreamType,
    NoAudio,
    Duration,
    OutputNumber,
    OutputProps,
    MediaType,
    NotWaveFormat
};

Step failAt = Step::None;

HRESULT unless(Step step, HRESULT failure = E_FAIL) {
    return failAt == step ? failure : S_OK;
}

template <class Interface>
class Counted : public Interface {
public:
    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT QueryInterface(const GUID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    virtual ~Counted() = default;

private:
    std::uint32_t references_ = 1;
};

class Config final : public Counted<IWMStreamConfig> {
public:
    explicit Config(std::uint16_t number) : number_(number) {}
    HRESULT GetStreamType(GUID* type) override {
        *type = failAt == Step::NoAudio ? WMMEDIATYPE_Video : WMMEDIATYPE_Audio;
        return unless(Step::StreamType);
    }
    HRESULT GetStreamNumber(std::uint16_t* number) override {
        *number = number_;
        return unless(Step::StreamNumber);
    }

private:
    std::uint16_t number_;
};

class Props final : public Counted<IWMOutputMediaProps> {
public:
    HRESULT GetMediaType(WM_MEDIA_TYPE* type, std::uint32_t* size) override {
        if (failAt == Step::MediaType)
            return E_FAIL;
        auto* format = reinterpret_cast<std::uint8_t*>(type) + sizeof *type;
        *type = WM_MEDIA_TYPE{WMMEDIATYPE_Audio,
                              WMMEDIASUBTYPE_PCM,
                              1,
                              0,
                              4,
                              failAt == Step::NotWaveFormat ? GUID{} : FORMAT_WaveFormatEx,
                              nullptr,
                              sizeof(WAVEFORMATEX),
                              format};
        const WAVEFORMATEX pcm{1, 2, 8000, 32000, 4, 16, 0};
        std::memcpy(format, &pcm, sizeof pcm);
        *size = sizeof *type + sizeof pcm;
        return S_OK;
    }
};

// A runtime reader of one file with one audio stream (number 3) that never has a sample.
class Reader final : public IWMSyncReader, public IWMProfile, public IWMHeaderInfo {
public:
    HRESULT QueryInterface(const GUID& iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IWMProfile && failAt != Step::Profile)
            *object = static_cast<IWMProfile*>(this);
        if (iid == IID_IWMHeaderInfo)
            *object = static_cast<IWMHeaderInfo*>(this);
        if (*object == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT Open(const char*) override {
        if (failAt == Step::OpenProtected)
            return NS_E_PROTECTED_CONTENT;
        return unless(Step::Open, NS_E_FILE_OPEN_FAILED);
    }
    HRESULT Close() override { return S_OK; }
    HRESULT SetRange(std::uint64_t, std::int64_t) override { return S_OK; }
    HRESULT GetNextSample(std::uint16_t, INSSBuffer** sample, std::uint64_t*, std::uint64_t*,
                          std::uint32_t*, std::uint32_t*, std::uint16_t*) override {
        *sample = nullptr;
        return NS_E_NO_MORE_SAMPLES;
    }
    HRESULT SetStreamsSelected(std::uint16_t, const std::uint16_t*,
                               const WMT_STREAM_SELECTION*) override {
        return S_OK;
    }
    HRESULT SetReadStreamSamples(std::uint16_t, bool) override { return S_OK; }
    HRESULT GetOutputNumberForStream(std::uint16_t number, std::uint32_t* output) override {
        *output = number == 3 ? 0 : 99;
        return unless(Step::OutputNumber);
    }
    // Only the output of stream 3, the later of the two audio streams, has properties.
    HRESULT GetOutputProps(std::uint32_t output, IWMOutputMediaProps** props) override {
        const bool fails = failAt == Step::OutputProps || output != 0;
        *props = fails ? nullptr : new Props;
        return fails ? E_FAIL : S_OK;
    }
    HRESULT GetStreamCount(std::uint32_t* count) override {
        *count = 2;
        return unless(Step::StreamCount);
    }
    HRESULT GetStream(std::uint32_t index, IWMStreamConfig** config) override {
        *config =
            failAt == Step::GetStream ? nullptr : new Config(static_cast<std::uint16_t>(index + 2));
        return unless(Step::GetStream);
    }
    HRESULT GetAttributeByName(std::uint16_t*, const char* name, WMT_ATTR_DATATYPE* type,
                               std::uint8_t* value, std::uint16_t* length) override {
        if (failAt == Step::Duration || std::strcmp(name, "Duration") != 0)
            return E_FAIL;
        const std::uint64_t duration = 30'000'000;  // 3 s
        std::memcpy(value, &duration, sizeof duration);
        *type = WMT_TYPE_QWORD;
        *length = sizeof duration;
        return S_OK;
    }

private:
    std::uint32_t references_ = 1;
};

HRESULT createReader(IUnknown*, std::uint32_t, IWMSyncReader** reader) {
    *reader = failAt == Step::Create ? nullptr : new Reader;
    return unless(Step::Create);
}

TEST(WmaRuntimeFailures, EachStepHasItsMessage) {
    const struct {
        Step step;
        const char* message;
    } cases[] = {
        {Step::Create, "cannot access WMA decoding library"},
        {Step::OpenProtected, "cannot open, file is digitally protected (DRM)"},
        {Step::Open, "cannot open file"},
        {Step::Profile, "Internal error #201"},
        {Step::StreamCount, "Internal error #201"},
        {Step::GetStream, "Internal error #202"},
        {Step::StreamNumber, "Internal error #203"},
        {Step::StreamType, "Internal error #204"},
        {Step::NoAudio, "cannot decode: no audio streams found in file"},
        {Step::Duration, "Internal error #205"},
        {Step::OutputNumber, "Internal error #206"},
        {Step::OutputProps, "Internal error #207"},
        {Step::MediaType, "Internal error #208"},
        {Step::NotWaveFormat, "Internal error #209"},
    };
    for (const auto& c : cases) {
        failAt = c.step;
        try {
            CWmaReader reader("x.wma", createReader);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const ReaderException& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
    failAt = Step::None;
}

TEST(WmaRuntimeFailures, WorkingRuntimeGivesFormatEstimateAndTheLastAudioStream) {
    failAt = Step::None;
    CWmaReader reader("x.wma", createReader);
    EXPECT_EQ(reader.sampleRate(), 8000);
    EXPECT_EQ(reader.channels(), 2);
    EXPECT_EQ(reader.bitsPerSample(), 16);
    EXPECT_EQ(reader.length(), 3);
    EXPECT_EQ(reader.totalBytes(), 2 * 2 * 8000 * 3 + 5000);
    std::uint8_t byte[4];
    EXPECT_EQ(reader.read(byte, 4), 0u);  // the runtime has no samples: the stream just ends
}

}  // namespace
}  // namespace tolvane::test
