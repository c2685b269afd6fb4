// Drives qscl.so the way the QCP encoder does, for tests of the library itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/qscl/qscl_api.h"

namespace tolvane::test {

// qscl.so from the build's application folder, opened once.
qscl::CreateInstanceFunction qsclEntry();

// A file held in memory behind an I/O function, with optional failures.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    long failReadsAfter = -1;   // bytes that may be read before reads fail (-1: never)
    long failWritesAfter = -1;  // bytes that may be written before writes fail
    long readBytes = 0;
    long writtenBytes = 0;

    static std::int32_t io(std::int32_t operation, void* buffer, std::int32_t position,
                           std::int32_t count, std::intptr_t file);
    qscl::StreamDescriptor descriptor() {
        return {qscl::kStreamThroughIoFunction, &MemoryFile::io,
                reinterpret_cast<std::intptr_t>(this)};
    }
};

// The format records the encoder passes.
qscl::InputFormat standardInputFormat();
qscl::OutputFormat standardOutputFormat();

// Converts `input` into `output` with a fresh converter; returns the converter's result.
std::int32_t convertWithQscl(MemoryFile& input, MemoryFile& output);

// Converts a WAV file into a QCP file on disk.
std::int32_t convertFileWithQscl(const std::string& wavPath, const std::string& qcpPath);

}  // namespace tolvane::test
