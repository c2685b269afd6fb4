// The conversion worker: converts every file of the job into a ringtone, collects one error line
// per failure, and hands the produced ringtones to the sending phase when sending is chosen.
//
// The worker knows no user interface. It talks to its page through ProgressView (the wizard
// forwards each call to its widgets with queued calls; the batch front end draws a text bar; the
// tests record the calls), and to delivery through SendingPhase.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "pipeline/job.h"
#include "pipeline/pcm_format.h"
#include "pipeline/pcm_store.h"

namespace tolvane {

class Settings;
class CReader;
class CEncoder;

// Messages the worker posts to its page.
inline constexpr int kMsgWorkFinished = 1123;
inline constexpr int kMsgPasswordNeeded = 1124;

// Status line texts.
inline constexpr std::string_view kStatusAnalyzing = "Analyzing...";
inline constexpr std::string_view kStatusConverting = "Converting...";
inline constexpr std::string_view kStatusSending = "Sending...";

// Error lines of the run as a whole.
inline constexpr std::string_view kLineCancelled = "Conversion cancelled.";
inline constexpr std::string_view kLineOutOfMemory = "Out of memory.";
inline constexpr std::string_view kLineUnhandled = "Unhandled exception.";
inline constexpr std::string_view kLineSmtpError = "SMTP server error.";
inline constexpr std::string_view kLineNetworkFailure = "Network failure.";
inline constexpr std::string_view kLineNoSending = "Sending is not available in this build.";
inline constexpr std::string_view kLineNoFolder = "No folder is set for the ringtones.";

// What the worker shows on its page. Calls come from the worker thread; an implementation that
// owns widgets must forward them to its own thread. Percentages are 0..100.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void setFileProgress(int percent) = 0;      // the file bar
    virtual void setOverallProgress(int percent) = 0;   // the "Overall progress" bar
    virtual void setStatus(std::string_view text) = 0;  // the status line
    // The second status line: the name of the file being converted (or uploaded).
    virtual void setFileName(std::string_view name) = 0;
    // kMsgWorkFinished or kMsgPasswordNeeded. Never waits for the page.
    virtual void postMessage(int message) = 0;
};

// The run state held by the Progress page object. It lives as long as the page; the page creates
// it empty. Shared with the worker thread without locks: `cancelRequested` is written by the
// page and polled by the worker; everything else is written by the worker and read by the page
// only after the posted message has arrived.
struct RunState {
    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
    // Deletes every file of TemporaryFiles.
    ~RunState();

    std::atomic<bool> cancelRequested{false};
    // 1 once a run converted its files without cancel while sending is chosen; a later run on the
    // same page then only sends.
    std::int32_t conversionDone = 0;
    // Ringtones produced, in order; the sending phase takes its files from here.
    std::vector<std::string> ProducedFiles;
    // Ringtones produced into the temporary folder; deleted when the run state goes away.
    std::vector<std::string> TemporaryFiles;
    // Error lines of the run, each ending in "\r\n".
    std::string ErrorText;

    // Appends text and "\r\n" to ErrorText.
    void addError(std::string_view text);
    // The error lines without their line ends (for printing and tests).
    std::vector<std::string> errorLines() const;
};

// Who needs the password the Password page asks for.
enum class PasswordRequest {
    None,            // nobody: the page has no Back and its Next stays
    ForUpload,       // the sending phase: the upload goes on once the password is typed
    ForAccountTask,  // an account task: the task runs again once the password is typed
};

// The values the worker's upload step shares with the Password page. Written by one side and
// read by the other only after the message that announces it (no lock).
struct PasswordExchange {
    std::string password;  // the in-memory upload password, up to 127 UTF-16 characters
    // Who asked for the password; the wizard maps it to the pages around the Password page.
    PasswordRequest request = PasswordRequest::None;
};
// The process-wide exchange.
PasswordExchange& passwordExchange();

// Failures of the sending phase that the worker reports with fixed lines. Delivery maps its
// library's exceptions to these (the worker never sees a mail or network library).
class MailServerError : public std::runtime_error {  // -> "SMTP server error."
public:
    using std::runtime_error::runtime_error;
};
class NetworkFailure : public std::runtime_error {  // -> "Network failure."
public:
    using std::runtime_error::runtime_error;
};

enum class SendOutcome {
    Finished,        // the worker posts kMsgWorkFinished
    PasswordNeeded,  // the worker posts kMsgPasswordNeeded instead (after the exchange is set)
};

// The sending phase, filled in by delivery. Called on the worker thread with the run state (its
// ProducedFiles are the ringtones to send), the run's settings and the page. It reports progress
// on the overall bar and the file name line, may add its own lines with state.addError, and may
// throw: MailServerError, NetworkFailure, an AppException (its message becomes the line), a
// std::logic_error (its description), std::bad_alloc ("Out of memory."); anything else becomes
// "Unhandled exception.". For a refused password it clears and sets passwordExchange() and
// returns PasswordNeeded; it never posts messages itself.
class SendingPhase {
public:
    virtual ~SendingPhase() = default;
    virtual SendOutcome send(RunState& state, Settings& settings, ProgressView& view) = 0;
};

// How the worker opens its sources and makes its ringtones. The front ends pass the source-type
// and format tables' functions (decoders/source_types.h, encoders/ringtone_formats.h); tests
// put failing or counting stand-ins here.
struct Codecs {
    // The source at `path`, starting at `startSecond` when that is above 0.
    std::function<std::unique_ptr<CReader>(const std::string& path, int startSecond)> openReader;
    // The file extension of format `format`, with its dot; std::logic_error for an unknown one.
    std::function<std::string(int format)> ringtoneExtension;
    // The encoder of format `format` on `path` for PCM in `source`'s format.
    std::function<std::unique_ptr<CEncoder>(int format, const PcmFormat& source,
                                            const std::string& path)>
        createEncoder;
    // The longest ringtone format `format` makes, in seconds, 0 for the whole part; none: every
    // format keeps the whole part. Such a format is measured on what it keeps and fed one second
    // beyond it.
    std::function<int(int format)> maximumSeconds;
};

// Where the decoded PCM of a source waits between its level analysis and its conversion, so that
// the source is decoded once.
struct PcmKeeping {
    // Held in memory up to this many bytes per source.
    std::size_t memoryLimit = PcmStore::kDefaultMemoryLimit;
    // Beyond it, in a nameless file in this folder; empty: the temporary folder. When no file can
    // be made there, the conversion decodes the source again.
    std::string spillFolder;
};

// Everything one run needs besides its page and run state.
struct Job {
    Job(FileList& files, Settings& settings, Codecs codecs, SendingPhase* sending = nullptr)
        : files(files), settings(settings), codecs(std::move(codecs)), sending(sending) {}

    FileList& files;
    // The run's copy of the settings: folder, save and send flags, format index, and for sending
    // the carrier, delivery method, phone number and e-mail. The caller loads it before the run.
    Settings& settings;
    Codecs codecs;
    // Delivery; without one, a run with sending chosen adds kLineNoSending.
    SendingPhase* sending = nullptr;
    // How many files convert at the same time (1: one after the other, on the calling thread).
    // The files start in the list's order and report in it: the produced ringtones and the
    // error lines stand as one after the other would give them. Above 1, the already-converted
    // question may be asked from another thread, so its asker must not need the calling one.
    unsigned jobs = 1;
    PcmKeeping keeping;
};

// The most files converted at the same time.
inline constexpr unsigned kMaxJobs = 64;
// One file per processor, within 1..kMaxJobs.
unsigned processorJobs();

// One run of the worker on the calling thread: erases ErrorText, converts (unless
// state.conversionDone is 1), sends when chosen, and always ends by posting kMsgWorkFinished (or
// kMsgPasswordNeeded from the sending phase). Never throws.
void runConversion(const Job& job, RunState& state, ProgressView& view);

// The Progress page's worker thread: one run at a time, started without waiting for it. The page
// learns of the end from the posted message; the object joins the thread when it is started again
// or destroyed, so no run outlives its page. The job, run state and view must outlive the run.
class ConversionThread {
public:
    ConversionThread() = default;
    ConversionThread(const ConversionThread&) = delete;
    ConversionThread& operator=(const ConversionThread&) = delete;
    ~ConversionThread() { join(); }

    // Waits for the previous run (it has posted its message already), then starts runConversion.
    void start(const Job& job, RunState& state, ProgressView& view);
    // Waits for the current run to end.
    void join();

private:
    std::thread thread_;
};

}  // namespace tolvane
