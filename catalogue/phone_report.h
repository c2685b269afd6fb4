// The unlisted-phone report: one HTTP GET of "phone_notify.php?vendor=...&model=..." on the
// maker's web host, telling the maker which phone to add to a later catalogue. Nothing is stored
// and nothing is retried; the outcome is two lines of text for the report dialog.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace tolvane::catalogue {

// The dialog's fields hold at most this many UTF-16 characters; longer input is cut.
inline constexpr std::size_t kReportFieldLimit = 1023;

// `text` with every byte other than A-Z a-z 0-9 - . _ ~ written as %XX (UTF-8 bytes), so that a
// value keeps its spaces, "&", "=" and "#" inside one query parameter.
std::string percentEncode(std::string_view text);

// The report address: "http://<host of homeUrl>[:<its port>]/phone_notify.php?vendor=..&model=..".
// The port is the one written in homeUrl, 80 when none is. Nothing when homeUrl names no host.
std::optional<std::string> phoneReportUrl(std::string_view homeUrl, std::string_view vendor,
                                          std::string_view model);

// The status texts shown while the request runs, in the order they occur.
inline constexpr std::string_view kFindingHost = "Finding host...";
inline constexpr std::string_view kConnectingHost = "Connecting host...";
inline constexpr std::string_view kSendingRequest = "Sending request...";
inline constexpr std::string_view kReceivingResponse = "Receiving response...";
inline constexpr std::string_view kFinishing = "Finishing...";

// The outcome as the dialog shows it: a headline and a detail line.
struct ReportOutcome {
    bool sent = false;
    std::string_view headline;  // "Successfully sent" or "Failure!"
    std::string_view
        detail;  // "Thank you...", "Cannot encode URL", "Unable to send", "Server error"
};

inline constexpr ReportOutcome kReportSent{true, "Successfully sent", "Thank you..."};
inline constexpr ReportOutcome kCannotEncodeUrl{false, "Failure!", "Cannot encode URL"};
inline constexpr ReportOutcome kUnableToSend{false, "Failure!", "Unable to send"};
inline constexpr ReportOutcome kServerError{false, "Failure!", "Server error"};

// The server took the report only when its reply is exactly "OK" (no line break, nothing more).
// `replyStart` is the reply's first bytes (up to 8).
bool replyAccepted(std::string_view replyStart);

// Called with each status text; on the sending thread.
using ReportProgress = std::function<void(std::string_view statusText)>;

// Sends the report and waits for the reply (blocking: run it off the user-interface thread).
// The reply is downloaded into a file under the cache folder and judged by its first 8 bytes;
// the file is removed afterwards. Redirects to other http addresses are followed. A host that
// cannot be found or reached, a time-out or a status other than 2xx is "Unable to send".
ReportOutcome sendPhoneReport(std::string_view homeUrl, std::string_view vendor,
                              std::string_view model, const ReportProgress& progress = {},
                              std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Runs sendPhoneReport on a thread of its own, as the report dialog needs so that it keeps
// drawing. `progress` and `done` are called on that thread; `done` exactly once, last. The
// destructor waits for the thread (a report cannot be cancelled once started).
class PhoneReportTask {
public:
    using Done = std::function<void(const ReportOutcome&)>;
    PhoneReportTask(std::string homeUrl, std::string vendor, std::string model,
                    ReportProgress progress, Done done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
    PhoneReportTask(const PhoneReportTask&) = delete;
    PhoneReportTask& operator=(const PhoneReportTask&) = delete;
    ~PhoneReportTask();

private:
    std::thread thread_;
};

}  // namespace tolvane::catalogue
