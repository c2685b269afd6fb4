// The interface of the QCP codec library qscl.so, shared by the library and its callers.
// The library's one entry point creates a converter that turns an 8000 Hz mono 16-bit WAV file
// into a QCELP-13K QCP file; both files are read and written through an I/O function that the
// caller supplies.
#pragma once

#include <cstdint>

namespace tolvane::qscl {

// A 16-byte identifier in the usual registry layout.
struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    bool operator==(const Guid&) const = default;
};

// I/O operations, results 32-bit:
enum IoOperation : std::int32_t {
    kIoRead = 1,      // read up to count bytes into buffer: bytes read, 0 on failure
    kIoWrite = 2,     // write count bytes from buffer: bytes written, 0 on failure
    kIoSeek = 3,      // move to position from the start: the new position, -1 on failure
    kIoSize = 4,      // the file's size in bytes
    kIoTruncate = 5,  // end the file at the current position: non-zero on success
};
using IoFunction = std::int32_t (*)(std::int32_t operation, void* buffer, std::int32_t position,
                                    std::int32_t count, std::intptr_t file);

constexpr std::int32_t kStreamThroughIoFunction = 2;

struct StreamDescriptor {
    std::int32_t kind;  // kStreamThroughIoFunction
    IoFunction io;
    std::intptr_t file;  // passed back to io unchanged
};

struct InputFormat {
    Guid first;
    Guid second;
    std::uint8_t reserved[28];
    std::int32_t sampleRate;     // 8000
    std::int32_t bitsPerSample;  // 16
};

struct OutputFormat {
    Guid first;
    Guid second;  // the QCELP-13K codec identifier
    Guid third;
};

// Results of convert.
enum ConvertResult : std::int32_t {
    kConverted = 0,
    kBadArguments = -1,  // a descriptor, format record or identifier is not the expected one
    kBadInput = -2,      // the input is not an 8000 Hz mono 16-bit PCM WAV file
    kReadFailed = -3,    // the I/O function failed reading the input
    kWriteFailed = -4,   // the I/O function failed writing the output
    kTooLong = -5,       // the input does not fit in one QCP file
};

// Every object the library hands out is released through this interface.
class Object {
public:
    virtual void release() = 0;

protected:
    ~Object() = default;
};

class Converter : public Object {
public:
    // Reads the whole WAV from `input`, writes the whole QCP to `output` (from its start, ending
    // the file after the last byte) and returns a ConvertResult. The last two arguments are 0.
    virtual std::int32_t convert(const StreamDescriptor* input, const InputFormat* inputFormat,
                                 const StreamDescriptor* output, const OutputFormat* outputFormat,
                                 std::int32_t reserved1, std::int32_t reserved2) = 0;

protected:
    ~Converter() = default;
};

// Identifiers of the converter object and of the format records.
inline constexpr Guid kConverterClass = {
    0x63366044, 0xC7B4, 0x8248, {0xB3, 0x54, 0x41, 0x8D, 0xB8, 0x81, 0x0C, 0xF5}};
inline constexpr Guid kConverterInterface = {
    0x8501FD70, 0xFD3A, 0x1B44, {0x80, 0x65, 0x02, 0x88, 0x14, 0xEB, 0xB3, 0x4A}};
inline constexpr Guid kInputFormatFirst = {
    0x176365AA, 0x45F8, 0x1C41, {0xBE, 0x87, 0x65, 0x4F, 0x54, 0xE9, 0xF4, 0x57}};
inline constexpr Guid kInputFormatSecond = {
    0x18F9DD19, 0xE0AC, 0x0543, {0x98, 0xEF, 0x2C, 0x6C, 0xA6, 0xC8, 0xB6, 0x14}};
inline constexpr Guid kOutputFormatFirst = {
    0xB942A5D8, 0xA4CE, 0x194B, {0x83, 0x14, 0x2A, 0x08, 0xC5, 0xD3, 0xEB, 0x7B}};
inline constexpr Guid kOutputFormatCodec = {
    0x5E7F6D41, 0xB115, 0x11D0, {0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E}};
inline constexpr Guid kOutputFormatThird = {
    0x4EF94E9F, 0xD4A3, 0x094D, {0xBE, 0xFF, 0x16, 0x5A, 0xAF, 0x6F, 0xEF, 0x47}};

// The exported entry point: a converter for (kConverterClass, kConverterInterface), else null.
using CreateInstanceFunction = Converter* (*)(const Guid* first, const Guid* second);
constexpr const char* kCreateInstanceName = "QsclCreateInstance";

}  // namespace tolvane::qscl
