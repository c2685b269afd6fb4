// The SMAF (.mmf) ringtone encoder. It codes nothing itself: the PCM goes into a temporary WAV
// file, and finish() has the converter program kessin turn that file into SMAF. kessin takes
// its input path from a slot inside its own executable, so each process makes one private copy
// of it, rewrites the slot before every conversion, starts the copy and drives its windows over
// the window bus: message 1075 to "KESSIN", OK to the options dialog (found by its "fs4k"
// control), Power to the result dialog (found by its "SMAF File Size" text).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "pipeline/encoder.h"
#include "pipeline/wave_encoder.h"
#include "platform/process.h"
#include "platform/window_bus.h"

namespace tolvane {

class CMMFEncoder : public CEncoder {
public:
    // prepareTarget on `targetPath`, then the temporary WAV file ("file skipped", "cannot create
    // file").
    explicit CMMFEncoder(const std::string& targetPath);
    ~CMMFEncoder() override;  // removes the temporary WAV file if it is still there

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Runs the converter; returns only when the target exists. EncoderException otherwise.
    void finish() override;

    const std::string& temporaryWavPath() const { return temporaryWav_; }

    // The converter copy of this process (empty until the first SMAF ringtone is finished).
    static std::string converterCopyPath();
    // Tests only: take the converter from `source` instead of the system directory, forget the
    // current copy (deleting it), and change the polling (period × count per window).
    static void useConverterForTesting(const std::string& source);
    static void setPollingForTesting(std::chrono::milliseconds period, int count);

private:
    void removeTemporaryWav();
    [[noreturn]] void failBeforeStart(const char* message);
    [[noreturn]] void failAfterStart(platform::ChildProcess& converter, const char* message);

    platform::WindowHandle optionsDialog_ = 0;
    platform::WindowHandle resultDialog_ = 0;
    bool formatPending_ = true;
    std::string target_;
    std::string temporaryWav_;
    std::string reservation_;  // the empty ".tmp" file whose name the WAV's is made from
    std::unique_ptr<CWaveEncoder> inner_;
};

}  // namespace tolvane
