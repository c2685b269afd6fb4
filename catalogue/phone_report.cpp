#include "catalogue/phone_report.h"

#include "platform/paths.h"
#include "platform/utf16.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include <unistd.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <istream>
#include <system_error>

namespace tolvane::catalogue {

namespace {

constexpr std::string_view kReportPath = "/phone_notify.php";
constexpr unsigned short kDefaultHttpPort = 80;
constexpr int kMaxRedirects = 5;
// Only the first bytes of a reply decide; more than this is not kept.
constexpr std::streamsize kMaxReplyBytes = 64 * 1024;
constexpr std::size_t kJudgedReplyBytes = 8;

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// A file in the cache folder that holds one downloaded reply and is removed with the object.
class CachedReply {
public:
    CachedReply() {
        std::error_code error;
        std::filesystem::create_directories(platform::cacheFolder(), error);
        std::string pattern = (platform::cacheFolder() / "phone_notify-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(), "cache file");
        ::close(fd);
        path_ = pattern;
    }
    CachedReply(const CachedReply&) = delete;
    CachedReply& operator=(const CachedReply&) = delete;
    ~CachedReply() {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }

    // Copies the reply body into the file, up to kMaxReplyBytes.
    void store(std::istream& body) {
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        std::array<char, 4096> buffer{};
        std::streamsize total = 0;
        while (total < kMaxReplyBytes && body.read(buffer.data(), buffer.size()).gcount() > 0) {
            file.write(buffer.data(), body.gcount());
            total += body.gcount();
        }
        if (!file)
            throw std::runtime_error("cache file write");
    }

    // The first bytes of the stored reply; nothing when the file cannot be read.
    std::optional<std::string> firstBytes(std::size_t count) const {
        std::ifstream file(path_, std::ios::binary);
        if (!file)
            return std::nullopt;
        std::string bytes(count, '\0');
        file.read(bytes.data(), static_cast<std::streamsize>(count));
        if (file.bad())
            return std::nullopt;
        bytes.resize(static_cast<std::size_t>(file.gcount()));
        return bytes;
    }

private:
    std::filesystem::path path_;
};

void report(const ReportProgress& progress, std::string_view text) {
    if (progress)
        progress(text);
}

unsigned short portOf(const Poco::URI& uri) {
    const unsigned short port = uri.getSpecifiedPort();
    return port != 0 ? port : kDefaultHttpPort;
}

bool isRedirect(Poco::Net::HTTPResponse::HTTPStatus status) {
    using R = Poco::Net::HTTPResponse;
    return status == R::HTTP_MOVED_PERMANENTLY || status == R::HTTP_FOUND ||
           status == R::HTTP_SEE_OTHER || status == R::HTTP_TEMPORARY_REDIRECT ||
           status == R::HTTP_PERMANENT_REDIRECT;
}

// One GET of `uri`. Returns the next address on a redirect, nothing when the reply is stored.
// Throws on network failures and refused statuses.
std::optional<Poco::URI> fetchOnce(const Poco::URI& uri, CachedReply& reply,
                                   const ReportProgress& progress,
                                   std::chrono::milliseconds timeout) {
    const Poco::Timespan span(static_cast<Poco::Timespan::TimeDiff>(timeout.count()) * 1000);
    report(progress, kFindingHost);
    const Poco::Net::SocketAddress address(uri.getHost(), portOf(uri));

    report(progress, kConnectingHost);
    Poco::Net::StreamSocket socket;
    socket.connect(address, span);
    // The session applies its own time-out only to connections it opens itself.
    socket.setReceiveTimeout(span);
    socket.setSendTimeout(span);
    Poco::Net::HTTPClientSession session(socket);
    session.setKeepAlive(false);

    report(progress, kSendingRequest);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri.getPathAndQuery(),
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    request.setHost(uri.getHost(), portOf(uri));
    session.sendRequest(request);

    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    report(progress, kReceivingResponse);
    if (isRedirect(response.getStatus()) && response.has("Location")) {
        return Poco::URI(uri, response.get("Location"));
    }
    if (response.getStatus() < 200 || response.getStatus() > 299) {
        throw std::runtime_error("HTTP status " + std::to_string(response.getStatus()));
    }
    reply.store(body);
    report(progress, kFinishing);
    return std::nullopt;
}

// Downloads `address` into `reply`, following redirects. False when it could not be fetched.
bool download(const std::string& address, CachedReply& reply, const ReportProgress& progress,
              std::chrono::milliseconds timeout) {
    try {
        Poco::URI uri(address);
        for (int hop = 0; hop <= kMaxRedirects; ++hop) {
            if (uri.getScheme() != "http" || uri.getHost().empty())
                return false;
            std::optional<Poco::URI> next = fetchOnce(uri, reply, progress, timeout);
            if (!next)
                return true;
            uri = *next;
        }
        return false;
    } catch (const Poco::Exception&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

std::optional<std::string> phoneReportUrl(std::string_view homeUrl, std::string_view vendor,
                                          std::string_view model) {
    std::string host;
    unsigned short port = kDefaultHttpPort;
    try {
        const Poco::URI home{std::string(homeUrl)};
        host = home.getHost();
        port = portOf(home);
    } catch (const Poco::Exception&) {
        return std::nullopt;
    }
    if (host.empty())
        return std::nullopt;

    std::string url = "http://";
    url += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != kDefaultHttpPort)
        url += ":" + std::to_string(port);
    url += kReportPath;
    url += "?vendor=" + percentEncode(truncateUtf16(vendor, kReportFieldLimit));
    url += "&model=" + percentEncode(truncateUtf16(model, kReportFieldLimit));
    return url;
}

bool replyAccepted(std::string_view replyStart) {
    return replyStart == "OK";
}

ReportOutcome sendPhoneReport(std::string_view homeUrl, std::string_view vendor,
                              std::string_view model, const ReportProgress& progress,
                              std::chrono::milliseconds timeout) {
    const std::optional<std::string> address = phoneReportUrl(homeUrl, vendor, model);
    if (!address)
        return kCannotEncodeUrl;
    try {
        CachedReply reply;
        if (!download(*address, reply, progress, timeout))
            return kUnableToSend;
        const std::optional<std::string> start = reply.firstBytes(kJudgedReplyBytes);
        return start && replyAccepted(*start) ? kReportSent : kServerError;
    } catch (const std::exception&) {
        // No cache file could be made: the reply has nowhere to go.
        return kUnableToSend;
    }
}

PhoneReportTask::PhoneReportTask(std::string homeUrl, std::string vendor, std::string model,
                                 ReportProgress progress, Done done,
                                 std::chrono::milliseconds timeout)
    : thread_([homeUrl = std::move(homeUrl), vendor = std::move(vendor), model = std::move(model),
               progress = std::move(progress), done = std::move(done), timeout] {
          const ReportOutcome outcome = sendPhoneReport(homeUrl, vendor, model, progress, timeout);
          if (done)
              done(outcome);
      }) {}

PhoneReportTask::~PhoneReportTask() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace tolvane::catalogue
