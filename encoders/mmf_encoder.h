// The SMAF (.mmf) ringtone encoder. It codes nothing itself: the PCM goes into a temporary WAV
// file, and finish() has the converter program kessin turn that file into SMAF. kessin takes
// its input path from a slot inside its own executable, so each process makes one private copy
// of it, rewrites the slot before every conversion, starts the copy and drives its windows over
// the window bus: message 1075 to "KESSIN", OK to the options dialog (found by its "fs4k"
// control), Power to the result dialog (found by its "SMAF File Size" text).
//
// kessin runs as one instance at a time, so conversions (of this process's threads and of other
// processes) take turns: each waits for the one before it to end, and gives up only when a turn
// lasts longer than any conversion can, or when its run is cancelled.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "encoders/temporary_wav.h"
#include "pipeline/encoder.h"
#include "pipeline/wave_encoder.h"
#include "platform/window_bus.h"

namespace tolvane {

class CMMFEncoder : public CEncoder {
public:
    // prepareTarget on `targetPath`, then the temporary WAV file, named after the ringtone
    // (kessin titles the SMAF file with its input's name): "file skipped", "cannot create
    // file", or the error of a temporary folder whose every name is taken.
    explicit CMMFEncoder(const std::string& targetPath);
    ~CMMFEncoder() override;  // removes the temporary WAV file if it is still there

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Runs the converter; returns only when the target exists, or without one once the run is
    // cancelled (the worker discards a cancelled file). EncoderException otherwise.
    void finish() override;

    // Empty once the stream is finished.
    std::string temporaryWavPath() const { return wav_ ? wav_->path() : std::string(); }

    // The converter copy of this process (empty until the first SMAF ringtone is finished).
    static std::string converterCopyPath();
    // Removes the converter copies that processes which have ended left in the temporary folder
    // (killed before they could delete them). Only this user's complete copies of the converter
    // whose owner is gone are touched. Returns how many were removed.
    static int removeLeftoverConverterCopies();
    // Tests only: take the converter from `source` instead of the system directory, forget the
    // current copy (deleting it), and change the polling (period × count per window).
    static void useConverterForTesting(const std::string& source);
    static void setPollingForTesting(std::chrono::milliseconds period, int count);

private:
    struct Cancelled {};
    class RunningConverter;

    void convert();
    std::unique_ptr<platform::window_bus::NamedLock> waitForTurn() const;
    void waitUntilNoConverterRuns(std::chrono::steady_clock::time_point deadline) const;
    RunningConverter startConverter(const std::string& copy,
                                    std::chrono::steady_clock::time_point deadline);
    template <class Find>
    platform::WindowHandle poll(RunningConverter& converter, Find find) const;

    platform::WindowHandle optionsDialog_ = 0;
    platform::WindowHandle resultDialog_ = 0;
    bool formatPending_ = true;
    std::string target_;
    std::unique_ptr<TemporaryWav> wav_;
    std::unique_ptr<CWaveEncoder> inner_;
};

}  // namespace tolvane
