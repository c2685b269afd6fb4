// QCP (QCELP-13K) ringtones. The coding is done by the run-time library qscl.so from the
// application folder, which converts a whole WAV file in one call: the encoder collects the PCM
// in a temporary WAV file and has the library convert it into the target when the stream ends.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "encoders/temporary_wav.h"
#include "pipeline/encoder.h"
#include "pipeline/wave_encoder.h"
#include "plugins/qscl/qscl_api.h"

namespace tolvane {

// The I/O function the library reads the temporary WAV and writes the target through; `file` is
// a file descriptor. Operations as in qscl_api.h; any other operation answers -1.
std::int32_t qcpFileIo(std::int32_t operation, void* buffer, std::int32_t position,
                       std::int32_t count, std::intptr_t file);

// qscl.so and its entry point, loaded on first use and kept until the process ends.
class QsclLibrary {
public:
    using FolderSource = std::function<std::string()>;

    // `folder` names the folder to load from each time loading is attempted (AppPath).
    explicit QsclLibrary(FolderSource folder);
    ~QsclLibrary();
    QsclLibrary(const QsclLibrary&) = delete;
    QsclLibrary& operator=(const QsclLibrary&) = delete;

    // The process's library, loaded from platform::applicationFolder().
    static QsclLibrary& processWide();

    // Does nothing once the entry point is known; otherwise loads "<folder>/qscl.so".
    // EncoderException "QCP library cannot be found, please reinstall" when it cannot be loaded,
    // "QCP library is broken" when it has no QsclCreateInstance.
    void load();
    qscl::CreateInstanceFunction createInstance() const;
    // How many times the library was actually opened.
    int loads() const;

private:
    FolderSource folder_;
    mutable std::mutex mutex_;
    void* handle_ = nullptr;
    qscl::CreateInstanceFunction entry_ = nullptr;
    int loads_ = 0;
};

class CQCPEncoder : public CEncoder {
public:
    // Loads the library, prepares and creates the target, and starts the temporary WAV file:
    // "QCP library cannot be found, please reinstall", "QCP library is broken", "file skipped",
    // "cannot create file".
    explicit CQCPEncoder(const std::string& path,
                         QsclLibrary& library = QsclLibrary::processWide());
    ~CQCPEncoder() override;

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Converts the collected PCM into the target and removes the temporary WAV file:
    // "QCP encoder internal error #4" when the temporary file cannot be opened, "#1" when the
    // library gives no converter, "write error" when the conversion fails.
    void finish() override;

    const std::string& temporaryPath() const { return temporaryWav_->path(); }

private:
    void removeTemporary();

    QsclLibrary& library_;
    int target_ = -1;
    int temporary_ = -1;
    std::unique_ptr<TemporaryWav> temporaryWav_;
    std::unique_ptr<CWaveEncoder> inner_;
    bool formatPending_ = true;
};

}  // namespace tolvane
