// The program's one exception family. Messages are short English texts ("cannot open file",
// "write error", "file skipped"); the worker turns each into an error line.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tolvane {

class AppException : public std::exception {
public:
    // Longer texts are cut to this many UTF-16 characters (on a code-point boundary).
    static constexpr std::size_t kMaxMessageUnits = 127;

    explicit AppException(std::string_view message);

    // The message as handlers show it.
    const std::string& message() const noexcept { return message_; }
    // The description as a standard exception: the message in the ANSI code page (UTF-8 here),
    // at most 127 bytes.
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string message_;
    std::string description_;
};

class ReaderException : public AppException {
    using AppException::AppException;
};
class EncoderException : public AppException {
    using AppException::AppException;
};
// The user chose to keep an existing ringtone ("Skip All"): reported as a line, but the file
// is neither a failure to clean up after nor a ringtone of this run.
class FileSkipped : public EncoderException {
public:
    FileSkipped() : EncoderException("file skipped") {}
};
class PlayerException : public AppException {
    using AppException::AppException;
};
class UIException : public AppException {
    using AppException::AppException;
};

}  // namespace tolvane
