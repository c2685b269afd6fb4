// Client of the Skylet upload service: account creation, the mail relay record, uploads, wiping
// and passwords, over plain HTTP below the service's base address (the machine-wide `SkyletURL`).
//
// Every failure is a SkyletException carrying the text shown to the user.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "pipeline/app_exception.h"

namespace tolvane::delivery {

class SkyletException : public AppException {
public:
    using AppException::AppException;
};
// The service says the account has expired ("ERR EXPIRED").
class SkyletAccountExpiredException : public SkyletException {
public:
    using SkyletException::SkyletException;
};
// The service refused the password ("ERR PWD").
class SkyletWrongPasswordException : public SkyletException {
public:
    using SkyletException::SkyletException;
};

// Messages of the service exchange.
inline constexpr std::string_view kCannotConnect =
    "Cannot connect Skylet service. Please check your internet connection.";
inline constexpr std::string_view kCannotNegotiate =
    "Cannot negotiate with Skylet service. Please check your internet connection.";
inline constexpr std::string_view kAccountExpired = "Sorry, account already expired.";
inline constexpr std::string_view kWrongPassword =
    "Wrong password specified. Cannot access to Skylet account.";
inline constexpr std::string_view kWrongOldPassword =
    "Wrong old password specified. Cannot access to Skylet account.";

// The largest file the service takes: exactly 2 MiB passes.
inline constexpr std::uint64_t kMaxUploadBytes = 2 * 1024 * 1024;

// Where the mail relay is and how to log in to it: host (optionally "host:port"), user name,
// password.
struct RelayRecord {
    std::string host;
    std::string user;
    std::string password;
};

class SkyletClient {
public:
    // How long one request may take before it counts as failed.
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

    // `baseUrl` is the service's base address ("http://host:port/"); the account id and the
    // password may be empty (no account yet, or an account without password).
    explicit SkyletClient(std::string baseUrl, std::string accountId = {},
                          std::string password = {});

    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // A new account; its id formatted with at least four digits ("0007").
    std::string createAccount();
    // The relay record; a reply with fewer than three non-empty lines is refused.
    RelayRecord fetchRelay();
    // Uploads one ringtone file to the account. Files over 2 MiB are refused before any traffic.
    void upload(const std::string& path);
    // Removes every upload of the account.
    void wipe();
    // Changes the account's password from the client's password to `newPassword` (empty removes
    // the password).
    void setPassword(const std::string& newPassword);

    // The text of a GET below the base address, downloaded into the cache folder and read back:
    // at most `maxBytes` bytes, up to the first zero byte.
    std::string fetchReply(const std::string& relativeUrl, std::size_t maxBytes);

    const std::string& baseUrl() const { return baseUrl_; }
    const std::string& accountId() const { return accountId_; }
    const std::string& password() const { return password_; }

private:
    std::string accountQuery(const std::string& path) const;
    std::string postUpload(const std::string& pathAndQuery, const std::string& contentType,
                           const std::string& body);

    std::string baseUrl_;
    std::string accountId_;
    std::string password_;
    std::chrono::milliseconds timeout_ = kDefaultTimeout;
};

// Percent-encoding of a query value: everything but letters, digits and "-._~" is escaped, so
// that a password holding "&", "#" or "=" arrives as typed.
std::string encodeQueryValue(const std::string& value);

// Parses an account-creation reply like the C library's integer parsing: leading white space
// and a sign allowed, stops at the first non-digit; nothing when no digit is read.
std::optional<long long> parseLeadingInteger(std::string_view text);

// The relay record of a "/getrel.ashx" reply: the first three non-empty lines (a trailing
// carriage return dropped). Nothing for a refusal, fewer lines or an unusable host.
std::optional<RelayRecord> parseRelayRecord(std::string_view reply);

// "host" or "host:port" split for a connection; nothing for an empty host or a bad port.
std::optional<std::pair<std::string, std::uint16_t>> splitHostPort(std::string_view text,
                                                                   std::uint16_t defaultPort = 25);

// The multipart boundary text: "\r\n", 29 "-" and four lower-case hexadecimal numbers (year,
// milliseconds, seconds and a per-request random value) run together.
std::string makeBoundaryText();

// The media type of the uploaded file's part: "audio/mp4" for an iPhone ringtone (".m4r"),
// "audio/ogg" for an Android ringtone (".ogg"), "application/octet-stream" for every other file.
std::string uploadPartType(const std::string& fileName);

// The upload body for one file: opening delimiter, the part's headers with `fileName`, the
// bytes, and the closing delimiter followed by "--\r\n".
std::string buildUploadBody(const std::string& boundaryText, const std::string& fileName,
                            const std::string& bytes);

}  // namespace tolvane::delivery
