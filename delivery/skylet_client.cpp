#include "delivery/skylet_client.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/URI.h>

#include <boost/format.hpp>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "delivery/mail_delivery.h"
#include "platform/paths.h"

namespace tolvane::delivery {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kAccountReplyBytes = 63;
constexpr std::size_t kRelayReplyBytes = 255;
constexpr std::size_t kUploadReplyBytes = 65535;
// A reply is never longer than this on disk; the rest of a huge reply is not downloaded.
constexpr std::size_t kDownloadLimit = 64 * 1024;

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";
constexpr const char* kAcceptedTypes =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/msword, */*";

[[noreturn]] void fail(std::string_view message) {
    throw SkyletException(message);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The system's text for errno, as it fills "Cannot open file: %s.".
std::string lastErrorText(int error) {
    return std::strerror(error);
}

Poco::URI resolve(const std::string& baseUrl, const std::string& relative) {
    try {
        Poco::URI base(baseUrl);
        if (base.getScheme() != "http" || base.getHost().empty())
            fail(kCannotConnect);
        return Poco::URI(base, relative);
    } catch (const Poco::Exception&) {
        fail(kCannotConnect);
    }
}

Poco::Timespan toTimespan(std::chrono::milliseconds timeout) {
    return Poco::Timespan(std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
}

// Reads at most `limit` bytes of the stream, giving up when the deadline passes (a server that
// trickles bytes must not hold the request forever). False on time-out or a broken stream.
bool readBounded(std::istream& in, std::size_t limit, Clock::time_point deadline,
                 std::string& out) {
    char buffer[4096];
    while (out.size() < limit) {
        if (Clock::now() > deadline)
            return false;
        in.read(buffer, std::streamsize(std::min(sizeof buffer, limit - out.size())));
        out.append(buffer, std::size_t(in.gcount()));
        if (in.eof())
            return true;
        if (!in)
            return false;
    }
    return true;
}

// A file below the cache folder that goes away with this object.
class CacheFile {
public:
    CacheFile() {
        std::error_code ec;
        std::filesystem::create_directories(platform::cacheFolder(), ec);
        std::string pattern = (platform::cacheFolder() / "reply-XXXXXX").string();
        int fd = mkstemp(pattern.data());
        if (fd < 0)
            return;
        ::close(fd);
        path_ = pattern;
    }
    ~CacheFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The first `maxBytes` bytes of the downloaded reply, up to a zero byte.
std::string readCachedReply(const std::string& path, std::size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("Internal error #42. Server response cannot be read.");
    std::string reply(maxBytes, '\0');
    in.read(reply.data(), std::streamsize(maxBytes));
    if (in.bad())
        fail("Internal error #43. Cannot read server response.");
    reply.resize(std::size_t(in.gcount()));
    reply.resize(std::strlen(reply.c_str()));
    return reply;
}

// Matches the replies shared by the account requests and uploads.
void checkAccountReply(std::string_view reply, std::string_view wrongPasswordMessage) {
    if (startsWith(reply, "ERR EXPIRED"))
        throw SkyletAccountExpiredException(kAccountExpired);
    if (startsWith(reply, "ERR PWD"))
        throw SkyletWrongPasswordException(wrongPasswordMessage);
}

// The file's bytes for an upload, with the size check made before any traffic.
std::string readUploadFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("Cannot open file: " + lastErrorText(errno) + ".");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail("Cannot access file: " + lastErrorText(errno) + ".");
    if (std::uint64_t(info.st_size) > kMaxUploadBytes)
        fail("Cannot upload file: file is too big (>2Mb).");
    std::string bytes(std::size_t(info.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail("Cannot read file: " + lastErrorText(errno) + ".");
        if (got == 0)
            fail("Cannot read file: the file became shorter while it was read.");
        done += std::size_t(got);
    }
    if (info.st_size == 0) {
        // A special file reports no size; reading it whole is the only way to know.
        char probe;
        if (::read(fd, &probe, 1) < 0)
            fail("Cannot read file: " + lastErrorText(errno) + ".");
    }
    return bytes;
}

}  // namespace

SkyletClient::SkyletClient(std::string baseUrl, std::string accountId, std::string password)
    : baseUrl_(std::move(baseUrl)),
      accountId_(std::move(accountId)),
      password_(std::move(password)) {}

std::string SkyletClient::fetchReply(const std::string& relativeUrl, std::size_t maxBytes) {
    const Poco::URI uri = resolve(baseUrl_, relativeUrl);
    CacheFile cache;
    if (cache.path().empty())
        fail(kCannotConnect);
    try {
        const auto deadline = Clock::now() + timeout_;
        Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
        session.setTimeout(toTimespan(timeout_));
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri.getPathAndQuery(),
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        request.set("User-Agent", kUserAgent);
        request.set("Pragma", "no-cache");
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        if (response.getStatus() / 100 != 2)
            fail(kCannotConnect);
        std::string body;
        if (!readBounded(in, kDownloadLimit, deadline, body))
            fail(kCannotConnect);
        std::ofstream out(cache.path(), std::ios::binary | std::ios::trunc);
        out.write(body.data(), std::streamsize(body.size()));
        if (!out.flush())
            fail(kCannotConnect);
    } catch (const Poco::Exception&) {
        fail(kCannotConnect);
    } catch (const std::ios_base::failure&) {
        fail(kCannotConnect);
    }
    return readCachedReply(cache.path(), maxBytes);
}

std::optional<long long> parseLeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    bool anyDigit = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        anyDigit = true;
        value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
    }
    if (!anyDigit)
        return std::nullopt;
    return negative ? -value : value;
}

std::string SkyletClient::createAccount() {
    const std::string reply = fetchReply("reg.ashx", kAccountReplyBytes);
    const auto number = parseLeadingInteger(reply);
    if (!number)
        fail(kCannotNegotiate);
    return (boost::format("%04d") % *number).str();
}

RelayRecord SkyletClient::fetchRelay() {
    const auto relay = parseRelayRecord(fetchReply("getrel.ashx", kRelayReplyBytes));
    if (!relay)
        fail(kCannotNegotiate);
    return *relay;
}

std::optional<RelayRecord> parseRelayRecord(std::string_view reply) {
    // A refusal names no relay.
    if (startsWith(reply, "ERR"))
        return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < reply.size() && lines.size() < 3) {
        std::size_t end = reply.find('\n', start);
        if (end == std::string_view::npos)
            end = reply.size();
        std::string line(reply.substr(start, end - start));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.size() < 3 || !splitHostPort(lines[0]))
        return std::nullopt;
    return RelayRecord{lines[0], lines[1], lines[2]};
}

std::optional<std::pair<std::string, std::uint16_t>> splitHostPort(std::string_view text,
                                                                   std::uint16_t defaultPort) {
    std::string host(text);
    std::uint16_t port = defaultPort;
    // "host:port" names another port; a bare IPv6 address (several colons) does not.
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(':') == colon) {
        const std::string digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned long value = std::stoul(digits);
        if (value == 0 || value > 65535)
            return std::nullopt;
        port = std::uint16_t(value);
        host.resize(colon);
    }
    if (host.empty() || host.find_first_of(" \t/") != std::string::npos)
        return std::nullopt;
    return std::make_pair(host, port);
}

std::string SkyletClient::accountQuery(const std::string& path) const {
    return path + "?id=" + encodeQueryValue(accountId_);
}

void SkyletClient::wipe() {
    std::string url = accountQuery("wipe.ashx");
    if (!password_.empty())
        url += "&pwd=" + encodeQueryValue(password_);
    const std::string reply = fetchReply(url, kAccountReplyBytes);
    checkAccountReply(reply, kWrongPassword);
    if (!startsWith(reply, "OK"))
        fail(kCannotNegotiate);
}

void SkyletClient::setPassword(const std::string& newPassword) {
    std::string url = accountQuery("passwd.ashx");
    if (!password_.empty())
        url += "&old=" + encodeQueryValue(password_);
    if (!newPassword.empty())
        url += "&new=" + encodeQueryValue(newPassword);
    const std::string reply = fetchReply(url, kAccountReplyBytes);
    checkAccountReply(reply, kWrongOldPassword);
    if (!startsWith(reply, "OK"))
        fail(kCannotNegotiate);
}

void SkyletClient::upload(const std::string& path) {
    const std::string boundaryText = makeBoundaryText();
    const std::string bytes = readUploadFile(path);
    const std::string body = buildUploadBody(boundaryText, path, bytes);

    std::string url = accountQuery("upload.ashx");
    if (!password_.empty())
        url += "&pwd=" + encodeQueryValue(password_);
    const std::string contentType = "multipart/form-data; boundary=" + boundaryText.substr(4);
    const std::string reply = postUpload(url, contentType, body);

    checkAccountReply(reply, kWrongPassword);
    if (startsWith(reply, "ERR TYPE"))
        fail("Bad file type. Cannot upload.");
    if (startsWith(reply, "ERR REQUEST"))
        fail("Error. Request cannot be processed.");
    if (startsWith(reply, "ERR SIZE"))
        fail("File is too big. Cannot upload.");
    if (!startsWith(reply, "OK"))
        fail(kCannotNegotiate);
}

std::string SkyletClient::postUpload(const std::string& pathAndQuery,
                                     const std::string& contentType, const std::string& body) {
    const Poco::URI uri = resolve(baseUrl_, pathAndQuery);
    const auto deadline = Clock::now() + timeout_;
    Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
    session.setTimeout(toTimespan(timeout_));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_POST, uri.getPathAndQuery(),
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    request.set("User-Agent", kUserAgent);
    request.set("Referer", baseUrl_);
    request.set("Accept", kAcceptedTypes);
    request.set("Pragma", "no-cache");
    request.set("Cache-Control", "no-cache");
    request.setContentType(contentType);
    request.setContentLength(std::streamsize(body.size()));
    try {
        std::ostream& out = session.sendRequest(request);
        out.write(body.data(), std::streamsize(body.size()));
        if (!out.flush())
            fail("Cannot send request.");
    } catch (const Poco::Exception&) {
        fail("Cannot send request.");
    }
    std::string reply;
    try {
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        if (!readBounded(in, kUploadReplyBytes, deadline, reply))
            fail(kCannotConnect);
    } catch (const Poco::Exception&) {
        fail(kCannotConnect);
    }
    return reply;
}

std::string encodeQueryValue(const std::string& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string makeBoundaryText() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    // The fourth number keeps two uploads in the same millisecond apart and makes a collision
    // with the file's own bytes unlikely.
    static thread_local std::mt19937 random{std::random_device{}()};
    return (boost::format("\r\n-----------------------------%x%x%x%x") % (local.tm_year + 1900) %
            millis % local.tm_sec % random())
        .str();
}

std::string uploadPartType(const std::string& fileName) {
    // The service has always been sent the classic ringtones as plain bytes; the two formats of
    // today's phones say what they are, as the service serves them.
    const std::string type = mediaTypeOf(fileName);
    if (type == "audio/mp4" || type == "audio/ogg")
        return type;
    return "application/octet-stream";
}

std::string buildUploadBody(const std::string& boundaryText, const std::string& fileName,
                            const std::string& bytes) {
    std::string body = boundaryText.substr(2);
    body += "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
            "\"\r\nContent-Type: " + uploadPartType(fileName) + "\r\n\r\n";
    body += bytes;
    body += boundaryText;
    body += "--\r\n";
    return body;
}

}  // namespace tolvane::delivery
