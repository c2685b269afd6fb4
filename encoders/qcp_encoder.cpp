#include "encoders/qcp_encoder.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "encoders/encoders.h"
#include "encoders/temporary_wav.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane {
namespace {}  // namespace

std::int32_t qcpFileIo(std::int32_t operation, void* buffer, std::int32_t position,
                       std::int32_t count, std::intptr_t file) {
    const int fd = static_cast<int>(file);
    switch (operation) {
        case qscl::kIoRead:
        case qscl::kIoWrite: {
            if (count < 0 || (buffer == nullptr && count > 0))
                return 0;
            ssize_t n;
            do {
                n = operation == qscl::kIoRead
                        ? ::read(fd, buffer, static_cast<std::size_t>(count))
                        : ::write(fd, buffer, static_cast<std::size_t>(count));
            } while (n < 0 && errno == EINTR);
            return n < 0 ? 0 : static_cast<std::int32_t>(n);
        }
        case qscl::kIoSeek: {
            if (position < 0)
                return -1;
            const off_t at = ::lseek(fd, position, SEEK_SET);
            return at < 0 ? -1 : static_cast<std::int32_t>(at);
        }
        case qscl::kIoSize: {
            struct stat st {};
            if (::fstat(fd, &st) != 0)
                return 0;
            return st.st_size > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(st.st_size);
        }
        case qscl::kIoTruncate: {
            const off_t at = ::lseek(fd, 0, SEEK_CUR);
            return at >= 0 && ::ftruncate(fd, at) == 0 ? 1 : 0;
        }
        default:
            return -1;
    }
}

QsclLibrary::QsclLibrary(FolderSource folder) : folder_(std::move(folder)) {}

QsclLibrary::~QsclLibrary() {
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

QsclLibrary& QsclLibrary::processWide() {
    // Kept until exit: converters may still be in use while static objects are destroyed.
    static auto* library = new QsclLibrary([] { return platform::applicationFolder(); });
    return *library;
}

void QsclLibrary::load() {
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr && entry_ != nullptr)
        return;
    std::string path = folder_ ? folder_() : std::string();
    if (path.empty() || path.back() != '/')
        path += '/';
    path += "qscl.so";
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw EncoderException("QCP library cannot be found, please reinstall");
    auto entry =
        reinterpret_cast<qscl::CreateInstanceFunction>(::dlsym(handle, qscl::kCreateInstanceName));
    if (entry == nullptr) {
        ::dlclose(handle);
        throw EncoderException("QCP library is broken");
    }
    handle_ = handle;
    entry_ = entry;
    ++loads_;
}

qscl::CreateInstanceFunction QsclLibrary::createInstance() const {
    std::lock_guard lock(mutex_);
    return entry_;
}

int QsclLibrary::loads() const {
    std::lock_guard lock(mutex_);
    return loads_;
}

CQCPEncoder::CQCPEncoder(const std::string& path, QsclLibrary& library) : library_(library) {
    sampleRate_ = 8000;
    channels_ = 1;
    bitsPerSample_ = 16;
    library_.load();
    prepareTarget(path);
    if (path.size() > kMaxRingtonePath)
        throw EncoderException("cannot create file");
    target_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (target_ < 0)
        throw EncoderException("cannot create file");
    // Deny other writers while we own the ringtone, as every encoder does; empty it only once
    // it is ours.
    if (::flock(target_, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(target_, 0) != 0) {
        ::close(target_);
        target_ = -1;
        throw EncoderException("cannot create file");
    }
    try {
        // The WAV lies alone in a private folder, so no file of another program (or of an
        // earlier run) can be taken for it.
        temporaryWav_ = std::make_unique<TemporaryWav>("RCM", "");
        inner_ = std::make_unique<CWaveEncoder>(temporaryWav_->path());
    } catch (...) {
        temporaryWav_.reset();
        ::close(target_);
        target_ = -1;
        throw;
    }
}

CQCPEncoder::~CQCPEncoder() {
    if (inner_) {
        inner_.reset();
        removeTemporary();
    }
    if (temporary_ >= 0)
        removeTemporary();
    if (target_ >= 0)
        ::close(target_);
}

void CQCPEncoder::removeTemporary() {
    if (temporary_ >= 0) {
        ::close(temporary_);
        temporary_ = -1;
    }
    if (temporaryWav_)
        temporaryWav_->remove();
}

void CQCPEncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (!inner_)
        throw EncoderException("write error");
    if (formatPending_) {
        inner_->setInputFormat(sampleRate_, channels_, bitsPerSample_);
        formatPending_ = false;
    }
    inner_->write(data, count, written);
}

void CQCPEncoder::finish() {
    if (!inner_)
        return;
    // An empty stream still makes a valid (empty) WAV file, and so a valid QCP file.
    if (formatPending_)
        write(nullptr, 0);
    inner_.reset();  // completes and closes the temporary WAV file

    temporary_ = ::open(temporaryWav_->path().c_str(), O_RDONLY | O_CLOEXEC);
    if (temporary_ < 0) {
        removeTemporary();
        throw EncoderException("QCP encoder internal error #4");
    }
    const qscl::StreamDescriptor input{qscl::kStreamThroughIoFunction, qcpFileIo, temporary_};
    const qscl::StreamDescriptor output{qscl::kStreamThroughIoFunction, qcpFileIo, target_};
    qscl::InputFormat inputFormat{};
    inputFormat.first = qscl::kInputFormatFirst;
    inputFormat.second = qscl::kInputFormatSecond;
    inputFormat.sampleRate = 8000;
    inputFormat.bitsPerSample = 16;
    const qscl::OutputFormat outputFormat{qscl::kOutputFormatFirst, qscl::kOutputFormatCodec,
                                          qscl::kOutputFormatThird};

    qscl::Converter* converter =
        library_.createInstance()(&qscl::kConverterClass, &qscl::kConverterInterface);
    if (converter == nullptr) {
        removeTemporary();
        throw EncoderException("QCP encoder internal error #1");
    }
    const std::int32_t result =
        converter->convert(&input, &inputFormat, &output, &outputFormat, 0, 0);
    converter->release();
    removeTemporary();
    // A conversion that failed (a full disk, a failing device) must not pass for a ringtone.
    if (result != qscl::kConverted)
        throw EncoderException("write error");
}

std::unique_ptr<CEncoder> makeQcpEncoder(const std::string& path) {
    return std::make_unique<CQCPEncoder>(path);
}

}  // namespace tolvane
