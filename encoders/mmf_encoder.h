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

#include "converter/input_preparation.h"
#include "encoders/temporary_wav_encoder.h"
#include "platform/window_bus.h"

namespace tolvane {

class CMMFEncoder : public CTemporaryWavEncoder {
public:
    // prepareTarget on `targetPath`, then the temporary WAV file, named after the ringtone
    // (kessin titles the SMAF file with its input's name): "file skipped", "cannot create
    // file", or the error of a temporary folder whose every name is taken.
    explicit CMMFEncoder(const std::string& targetPath);

    // The converter copy of this process (empty until the first SMAF ringtone is finished).
    static std::string converterCopyPath();
    // Removes the converter copies that processes which have ended left in the temporary folder
    // (killed before they could delete them). Only this user's complete copies of the converter
    // whose owner is gone are touched. Returns how many were removed.
    static int removeLeftoverConverterCopies();
    // Tests only: take the converter from `source` instead of the system directory, forget the
    // current copy (deleting it), and change how long each window is waited for (period ×
    // count; 100 ms × 100 by default).
    static void useConverterForTesting(const std::string& source);
    static void setPollingForTesting(std::chrono::milliseconds period, int count);
    // Tests only: false hands the converter the PCM as it comes, unprepared.
    static void setInputPreparationForTesting(bool prepare);

private:
    struct Cancelled {};
    class RunningConverter;

    // Runs the converter on the finished WAV; returns only when the target exists, or without
    // one once the run is cancelled (the worker discards a cancelled file). EncoderException
    // otherwise.
    void convert(const TemporaryWav& wav) override;
    // The PCM is prepared as the converter would prepare it (widened, mixed down, at the
    // ringtone's rate), so that the converter reads a small file and leaves it as it is.
    void take(const void* data, std::size_t count) override;
    void flush() override;
    void runConverter(const TemporaryWav& wav);
    std::unique_ptr<platform::window_bus::NamedLock> waitForTurn() const;
    void waitUntilNoConverterRuns(std::chrono::steady_clock::time_point deadline) const;
    RunningConverter startConverter(const std::string& copy,
                                    platform::window_bus::ChangeWatch& watch,
                                    std::chrono::steady_clock::time_point deadline);
    template <class Find>
    platform::WindowHandle poll(RunningConverter& converter,
                                platform::window_bus::ChangeWatch& watch, Find find) const;

    std::unique_ptr<kessin::InputPreparation> preparation_;
    bool unprepared_ = false;
    platform::WindowHandle optionsDialog_ = 0;
    platform::WindowHandle resultDialog_ = 0;
    std::string target_;
};

}  // namespace tolvane
