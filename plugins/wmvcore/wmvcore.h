// The interface of wmvcore.so, the WMA decoding runtime loaded at run time from the application
// folder. It is shaped like a media runtime's synchronous reader: reference-counted interfaces
// found by identifier, HRESULT-style results (negative = failure), stream numbers, a "Duration"
// attribute in 100-ns units, an output format as a WAVEFORMATEX, and uncompressed samples with
// their start times. Paths and attribute names are UTF-8.
#pragma once

#include <cstdint>
#include <cstring>

namespace wmv {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = static_cast<HRESULT>(0xC00D07F0);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = static_cast<HRESULT>(0xC00D001D);
constexpr HRESULT NS_E_INVALID_DATA = static_cast<HRESULT>(0xC00D002F);
constexpr HRESULT NS_E_PROTECTED_CONTENT = static_cast<HRESULT>(0xC00D0BBD);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = static_cast<HRESULT>(0xC00D0BCF);

constexpr bool failed(HRESULT hr) {
    return hr < 0;
}

struct GUID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    bool operator==(const GUID& other) const {
        return std::memcmp(this, &other, sizeof *this) == 0;
    }
};

// {96406BDB-2B2B-11D3-B36B-00C04F6108FF}
constexpr GUID IID_IWMProfile = {
    0x96406BDB, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
// {96406BDA-2B2B-11D3-B36B-00C04F6108FF}
constexpr GUID IID_IWMHeaderInfo = {
    0x96406BDA, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
// {73647561-0000-0010-8000-00AA00389B71}
constexpr GUID WMMEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {73646976-0000-0010-8000-00AA00389B71}
constexpr GUID WMMEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000001-0000-0010-8000-00AA00389B71}
constexpr GUID WMMEDIASUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {05589F81-C356-11CE-BF01-00AA0055595A}
constexpr GUID FORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

#pragma pack(push, 1)
struct WAVEFORMATEX {
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)

// A media type; when the format type is FORMAT_WaveFormatEx, `pbFormat` points at a WAVEFORMATEX
// stored in the same caller-supplied buffer, right after this record.
struct WM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    std::int32_t bFixedSizeSamples;
    std::int32_t bTemporalCompression;
    std::uint32_t lSampleSize;
    GUID formattype;
    void* pUnk;
    std::uint32_t cbFormat;
    std::uint8_t* pbFormat;
};

enum WMT_ATTR_DATATYPE : int {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

enum WMT_STREAM_SELECTION : int { WMT_OFF = 0, WMT_CLEANPOINT_ONLY = 1, WMT_ON = 2 };

class IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class INSSBuffer : public IUnknown {
public:
    virtual HRESULT GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) = 0;

protected:
    ~INSSBuffer() = default;
};

class IWMStreamConfig : public IUnknown {
public:
    virtual HRESULT GetStreamType(GUID* type) = 0;
    virtual HRESULT GetStreamNumber(std::uint16_t* number) = 0;

protected:
    ~IWMStreamConfig() = default;
};

class IWMProfile : public IUnknown {
public:
    virtual HRESULT GetStreamCount(std::uint32_t* count) = 0;
    virtual HRESULT GetStream(std::uint32_t index, IWMStreamConfig** config) = 0;

protected:
    ~IWMProfile() = default;
};

class IWMHeaderInfo : public IUnknown {
public:
    // `length` is the size of `value` in bytes; on return the size of the attribute.
    virtual HRESULT GetAttributeByName(std::uint16_t* streamNumber, const char* name,
                                       WMT_ATTR_DATATYPE* type, std::uint8_t* value,
                                       std::uint16_t* length) = 0;

protected:
    ~IWMHeaderInfo() = default;
};

class IWMOutputMediaProps : public IUnknown {
public:
    // `size` is the size of `type`'s buffer in bytes; on return the size used.
    virtual HRESULT GetMediaType(WM_MEDIA_TYPE* type, std::uint32_t* size) = 0;

protected:
    ~IWMOutputMediaProps() = default;
};

class IWMSyncReader : public IUnknown {
public:
    virtual HRESULT Open(const char* path) = 0;
    virtual HRESULT Close() = 0;
    // From `start` (100 ns) for `duration` (0 = to the end). May be called from another thread
    // while GetNextSample runs; the next sample then comes from the new start.
    virtual HRESULT SetRange(std::uint64_t start, std::int64_t duration) = 0;
    // NS_E_NO_MORE_SAMPLES at the end of the stream.
    virtual HRESULT GetNextSample(std::uint16_t streamNumber, INSSBuffer** sample,
                                  std::uint64_t* sampleTime, std::uint64_t* sampleDuration,
                                  std::uint32_t* flags, std::uint32_t* outputNumber,
                                  std::uint16_t* streamNumberOut) = 0;
    virtual HRESULT SetStreamsSelected(std::uint16_t count, const std::uint16_t* streamNumbers,
                                       const WMT_STREAM_SELECTION* selections) = 0;
    virtual HRESULT SetReadStreamSamples(std::uint16_t streamNumber, bool compressed) = 0;
    virtual HRESULT GetOutputNumberForStream(std::uint16_t streamNumber,
                                             std::uint32_t* outputNumber) = 0;
    virtual HRESULT GetOutputProps(std::uint32_t outputNumber, IWMOutputMediaProps** props) = 0;

protected:
    ~IWMSyncReader() = default;
};

// The runtime's one entry point, looked up by name.
using CreateSyncReaderFunction = HRESULT (*)(IUnknown* certificate, std::uint32_t rights,
                                             IWMSyncReader** reader);
constexpr const char* kCreateSyncReaderName = "WMCreateSyncReader";

}  // namespace wmv
