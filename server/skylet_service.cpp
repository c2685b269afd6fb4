#include "server/skylet_service.h"

#include "server/request_parsing.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/MultipartReader.h>
#include <Poco/URI.h>

#include "delivery/account.h"
#include "delivery/qr_code.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "encoders/ringtone_formats.h"

namespace skylet {
namespace {

using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;

// Room for the multipart headers around the largest ringtone.
constexpr std::size_t kMaxUploadBody = kMaxRingtoneBytes + 64 * 1024;
// An oversize body up to this size is read and dropped before the refusal, so that a client
// that sends its body whole still reads the answer; a larger one has its connection closed.
constexpr std::size_t kMaxDrainedBody = 8 * 1024 * 1024;
constexpr std::size_t kMaxDisplayName = 120;
constexpr std::size_t kMaxReportField = 200;

const char* const kXhtmlType = "application/xhtml+xml; charset=utf-8";
const char* const kWapXhtmlType = "application/vnd.wap.xhtml+xml; charset=utf-8";

std::mutex logMutex;

// Control characters and bytes past ASCII as \xNN, so that a request cannot forge log lines
// or smuggle terminal escapes to whoever reads the log.
std::string escapeForLog(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '\\') {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// The request target with the value of every password parameter replaced by "***". The name
// is compared decoded and in any case ("p%77d", "PWD"), as the service reads it.
std::string maskedTarget(const std::string& target) {
    const std::size_t query = target.find('?');
    if (query == std::string::npos)
        return target;
    std::string out = target.substr(0, query + 1);
    std::size_t at = query + 1;
    while (at <= target.size()) {
        const std::size_t end = std::min(target.find('&', at), target.size());
        const std::string pair = target.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        std::string name;
        try {
            Poco::URI::decode(pair.substr(0, equals), name, true);
        } catch (const Poco::Exception&) {
            name = pair.substr(0, equals);
        }
        name = lower(name);
        if (equals != std::string::npos && (name == "pwd" || name == "old" || name == "new"))
            out += pair.substr(0, equals) + "=***";
        else
            out += pair;
        if (end < target.size())
            out += '&';
        at = end + 1;
    }
    return out;
}

// One log line per request; password values are never written out.
void logRequest(const HTTPServerRequest& request, int status, const std::string& summary) {
    const std::string line = request.clientAddress().host().toString() + ' ' +
                             escapeForLog(request.getMethod()) + ' ' +
                             escapeForLog(maskedTarget(request.getURI())) + ' ' +
                             std::to_string(status) + ' ' + escapeForLog(summary);
    std::lock_guard lock(logMutex);
    std::cerr << line << std::endl;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string queryEscape(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "!#$&'()*+,/:;=?@[]%\"<> ", out);
    return out;
}

std::string xhtmlMpPage(const std::string& title, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" "
           "\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<title>" +
           htmlEscape(title) +
           "</title>\n<meta name=\"viewport\" content=\"width=device-width\"/>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

// The page today's phone browsers get: HTML5 (written so that it is well-formed XML too), with
// touch targets large enough for a thumb.
std::string html5Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n<title>" +
           htmlEscape(title) +
           "</title>\n<style>\n"
           "body{font-family:sans-serif;margin:0 auto;max-width:36em;padding:1em;"
           "font-size:1.15em;line-height:1.4}\n"
           "ol{list-style:none;padding:0}li{margin:0 0 1em;padding:.8em;border:1px solid #ccc;"
           "border-radius:.5em}\n"
           ".name{font-weight:bold;word-break:break-word}.size{color:#555}\n"
           "a.download,input[type=submit]{display:block;margin-top:.5em;padding:.8em;"
           "min-height:48px;box-sizing:border-box;text-align:center;background:#1565c0;"
           "color:#fff;border:0;border-radius:.4em;text-decoration:none;font-size:1em;"
           "width:100%}\n"
           "input[type=text],input[type=password]{font-size:1.2em;padding:.5em;width:100%;"
           "box-sizing:border-box}\n"
           "</style>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

std::string codeForm(const std::string& note) {
    return (note.empty() ? "" : "<p>" + htmlEscape(note) + "</p>\n") +
           "<form action=\"./\" method=\"get\">\n<p>Personal code:<br/>\n"
           "<input type=\"text\" name=\"id\" size=\"8\" maxlength=\"9\"/>\n"
           "<input type=\"submit\" value=\"Open\"/></p>\n</form>\n";
}

enum class PageKind { Wap, Xhtml, Html5 };

class Reply {
public:
    Reply(HTTPServerRequest& request, HTTPServerResponse& response)
        : request_(request), response_(response) {}

    void text(const std::string& body, const std::string& summary = {}) {
        send(HTTPResponse::HTTP_OK, "text/plain; charset=us-ascii", body,
             summary.empty() ? body : summary);
    }
    // Phone browsers that name the WAP media type in Accept get XHTML-MP under it; browsers
    // that accept text/html get HTML5; everyone else gets XHTML-MP under the standard XHTML
    // type, which desktop browsers and most WAP 2.0 browsers read.
    PageKind pageKind() const {
        const std::string accept = lower(request_.get("Accept", ""));
        if (accept.find("application/vnd.wap.xhtml+xml") != std::string::npos)
            return PageKind::Wap;
        if (accept.find("text/html") != std::string::npos)
            return PageKind::Html5;
        return PageKind::Xhtml;
    }
    void page(const std::string& title, const std::string& body, const std::string& summary,
              HTTPResponse::HTTPStatus status = HTTPResponse::HTTP_OK) {
        switch (pageKind()) {
            case PageKind::Wap:
                send(status, kWapXhtmlType, xhtmlMpPage(title, body), summary);
                return;
            case PageKind::Html5:
                send(status, "text/html; charset=utf-8", html5Page(title, body), summary);
                return;
            case PageKind::Xhtml:
                send(status, kXhtmlType, xhtmlMpPage(title, body), summary);
                return;
        }
    }
    void send(HTTPResponse::HTTPStatus status, const std::string& type, const std::string& body,
              const std::string& summary) {
        response_.setStatusAndReason(status);
        response_.setContentType(type);
        response_.setContentLength(std::streamsize(body.size()));
        response_.set("Cache-Control", "no-cache");
        response_.send().write(body.data(), std::streamsize(body.size()));
        logRequest(request_, status, summary);
    }
    HTTPServerResponse& response() { return response_; }
    HTTPServerRequest& request() { return request_; }

private:
    HTTPServerRequest& request_;
    HTTPServerResponse& response_;
};

const char* accessReply(Access access) {
    switch (access) {
        case Access::Granted:
            return "OK";
        case Access::UnknownAccount:
            return "ERR REQUEST";
        case Access::Expired:
            return "ERR EXPIRED";
        case Access::WrongPassword:
            return "ERR PWD";
    }
    return "ERR REQUEST";
}

// A Content-Disposition that names the file for every browser: an ASCII fallback and the UTF-8
// name (RFC 6266, RFC 5987).
std::string contentDisposition(const std::string& name) {
    std::string ascii;
    for (unsigned char c : name)
        ascii += (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') ? '_' : char(c);
    std::string encoded;
    Poco::URI::encode(name, "!#$&'()*+,/:;=?@[]%\"<> ", encoded);
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// The first and last byte of a single "bytes=" range; nothing when there is no range to honour
// (none asked, several asked, or malformed: the whole file is sent); first > last when the
// range lies past the end.
std::optional<std::pair<std::size_t, std::size_t>> byteRange(const std::string& header,
                                                             std::size_t size) {
    const std::string prefix = "bytes=";
    if (header.rfind(prefix, 0) != 0 || header.find(',') != std::string::npos)
        return std::nullopt;
    const std::string spec = header.substr(prefix.size());
    const std::size_t dash = spec.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    auto number = [](const std::string& text) -> std::optional<std::size_t> {
        if (text.empty() || text.size() > 18 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::size_t(std::stoull(text));
    };
    const auto first = number(spec.substr(0, dash));
    const auto last = number(spec.substr(dash + 1));
    if (!first && !last)
        return std::nullopt;
    if (!first) {  // the last N bytes
        if (*last == 0)
            return std::pair<std::size_t, std::size_t>{1, 0};
        const std::size_t count = std::min(*last, size);
        return std::pair{size - count, size - 1};
    }
    if (last && *last < *first)
        return std::nullopt;
    if (*first >= size)
        return std::pair<std::size_t, std::size_t>{1, 0};
    return std::pair{*first, std::min(last.value_or(size - 1), size - 1)};
}

class SkyletHandler : public Poco::Net::HTTPRequestHandler {
public:
    SkyletHandler(std::shared_ptr<AccountStore> store, const ServiceConfig& config)
        : store_(std::move(store)), config_(config) {}

    void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
        Reply reply(request, response);
        try {
            dispatch(reply);
        } catch (const std::exception& error) {
            if (!response.sent())
                reply.text("ERR REQUEST", std::string("ERR REQUEST (") + error.what() + ")");
        }
    }

private:
    void dispatch(Reply& reply) {
        auto params = queryParameters(reply.request().getURI());
        if (!params) {
            reply.text("ERR REQUEST");
            return;
        }
        params_ = std::move(*params);
        const Poco::URI uri(reply.request().getURI());
        const std::string path = uri.getPath();
        if (path == "/reg.ashx")
            reply.text(std::to_string(store_->createAccount()));
        else if (path == "/getrel.ashx")
            relay(reply);
        else if (path == "/upload.ashx")
            upload(reply);
        else if (path == "/wipe.ashx")
            wipe(reply);
        else if (path == "/passwd.ashx")
            changePassword(reply);
        else if (path == "/phone_notify.php")
            phoneReport(reply);
        else if (path == "/get.ashx")
            download(reply);
        else if (path == "/qr.png")
            qrCode(reply);
        else if (path == "/healthz")
            health(reply);
        else if (path == "/" || path == "/index.html")
            pickUpPage(reply, uri.getRawQuery());
        else
            reply.page("Not found", "<p>There is no such page.</p>\n", "not found",
                       HTTPResponse::HTTP_NOT_FOUND);
    }

    std::string param(const std::string& name) const {
        auto found = params_.find(name);
        return found == params_.end() ? std::string() : found->second;
    }

    std::optional<int> account() const { return parseAccountNumber(param("id")); }

    void relay(Reply& reply) {
        if (config_.relayHost.empty()) {
            reply.text("ERR REQUEST", "ERR REQUEST (no relay configured)");
            return;
        }
        reply.text(
            config_.relayHost + "\n" + config_.relayUser + "\n" + config_.relayPassword + "\n",
            "relay " + config_.relayHost);
    }

    void wipe(Reply& reply) {
        const auto id = account();
        reply.text(id ? accessReply(store_->wipe(*id, param("pwd"), client(reply)))
                      : "ERR REQUEST");
    }

    void changePassword(Reply& reply) {
        const auto id = account();
        reply.text(
            id ? accessReply(store_->changePassword(*id, param("old"), param("new"), client(reply)))
               : "ERR REQUEST");
    }

    void phoneReport(Reply& reply) {
        store_->recordPhoneReport(cleanText(param("vendor"), kMaxReportField),
                                  cleanText(param("model"), kMaxReportField));
        reply.text("OK");
    }

    void upload(Reply& reply) {
        HTTPServerRequest& request = reply.request();
        const auto id = account();
        if (request.getMethod() != "POST" || !id) {
            reply.text("ERR REQUEST");
            return;
        }
        if (request.hasContentLength() &&
            std::uint64_t(request.getContentLength64()) > kMaxUploadBody) {
            refuseOversize(reply);
            return;
        }
        const Access access = store_->check(*id, param("pwd"), client(reply));
        std::string body;
        const bool whole = readAtMost(request.stream(), kMaxUploadBody, body);
        if (access != Access::Granted) {
            reply.text(accessReply(access));
            return;
        }
        if (!whole) {
            refuseOversize(reply);
            return;
        }
        std::string fileName, bytes;
        if (!readUploadForm(request.getContentType(), body, kMaxRingtoneBytes, fileName, bytes)) {
            reply.text("ERR REQUEST", "ERR REQUEST (malformed form data)");
            return;
        }
        if (bytes.size() > kMaxRingtoneBytes) {
            reply.text("ERR SIZE");
            return;
        }
        std::string name = cleanText(baseName(fileName), kMaxDisplayName);
        const std::string extension = extensionOf(name);
        if (ringtoneMediaType(extension).empty() || !looksLike(extension, bytes)) {
            reply.text("ERR TYPE");
            return;
        }
        store_->addFile(*id, extension, name, bytes);
        reply.text("OK", "OK " + formatAccountNumber(*id) + " " + name);
    }

    static void refuseOversize(Reply& reply) {
        std::string dropped;
        readAtMost(reply.request().stream(), kMaxDrainedBody, dropped);
        reply.response().setKeepAlive(false);
        reply.text("ERR SIZE");
    }

    void download(Reply& reply) {
        const auto id = account();
        const auto number = parseAccountNumber(param("f"));
        std::optional<FileContent> content;
        if (id && number && store_->check(*id, param("pwd"), client(reply)) == Access::Granted)
            content = store_->file(*id, *number);
        if (!content) {
            reply.page("Not found", "<p>This ringtone is not available.</p>\n", "not found",
                       HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        HTTPServerResponse& response = reply.response();
        response.set("Content-Disposition", contentDisposition(content->file.displayName));
        response.set("Accept-Ranges", "bytes");
        const std::string summary =
            "file " + formatAccountNumber(*id) + "/" + std::to_string(*number);
        const std::string type = ringtoneMediaType(content->file.extension);
        const std::string& bytes = content->bytes;
        const auto range = byteRange(reply.request().get("Range", ""), bytes.size());
        if (!range) {
            reply.send(HTTPResponse::HTTP_OK, type, bytes, summary);
        } else if (range->first > range->second) {
            response.set("Content-Range", "bytes */" + std::to_string(bytes.size()));
            reply.send(HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE, "text/plain", {},
                       summary + " (range not satisfiable)");
        } else {
            response.set("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                              std::to_string(range->second) + "/" +
                                              std::to_string(bytes.size()));
            reply.send(HTTPResponse::HTTP_PARTIAL_CONTENT, type,
                       bytes.substr(range->first, range->second - range->first + 1), summary);
        }
    }

    // The service's QR code of an account's pick-up page, for a phone's camera.
    void qrCode(Reply& reply) {
        const auto id = account();
        const auto code = id ? tolvane::delivery::makeQrCode(tolvane::delivery::pickUpLink(
                                   publicUrl(reply), formatAccountNumber(*id)))
                             : std::nullopt;
        if (!code) {
            reply.page("Not found", "<p>There is no such personal code.</p>\n", "not found",
                       HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        const int scale = std::clamp(std::atoi(param("scale").c_str()), 1, 16);
        reply.send(HTTPResponse::HTTP_OK, "image/png",
                   tolvane::delivery::qrCodePng(*code, param("scale").empty() ? 8 : scale),
                   "qr " + formatAccountNumber(*id));
    }

    void health(Reply& reply) {
        if (store_->healthy())
            reply.text("OK", "healthy");
        else
            reply.send(HTTPResponse::HTTP_SERVICE_UNAVAILABLE, "text/plain; charset=us-ascii",
                       "ERR DATABASE", "database does not answer");
    }

    // The address phones reach the service under: the configured one, else the Host the
    // request named.
    std::string publicUrl(Reply& reply) const {
        if (!config_.publicUrl.empty())
            return config_.publicUrl;
        const std::string host = reply.request().getHost();
        const bool plain = !host.empty() && host.find_first_of(" /\\\"<>?#@") == std::string::npos;
        return "http://" + (plain ? host : std::string("localhost")) + "/";
    }

    static std::string client(Reply& reply) {
        return reply.request().clientAddress().host().toString();
    }

    void pickUpPage(Reply& reply, const std::string& rawQuery) {
        if (rawQuery == "contacts") {
            reply.page("Contact us", contactsBody(), "contacts");
            return;
        }
        if (param("id").empty()) {
            reply.page("Tolvane ringtones", homeBody(), "home");
            return;
        }
        const auto id = account();
        if (!id) {
            reply.page("Ringtones", codeForm("Unknown personal code."), "unknown code");
            return;
        }
        const std::string password = param("pwd");
        switch (store_->check(*id, password, client(reply))) {
            case Access::UnknownAccount:
                reply.page("Ringtones", codeForm("Unknown personal code."), "unknown code");
                return;
            case Access::Expired:
                reply.page("Ringtones", "<p>This personal code has expired.</p>\n" + codeForm({}),
                           "expired");
                return;
            case Access::WrongPassword:
                reply.page("Your ringtones", passwordBody(*id, !password.empty()),
                           "password asked");
                return;
            case Access::Granted:
                reply.page("Your ringtones",
                           ringtoneList(*id, password, reply.pageKind() == PageKind::Html5),
                           "list " + formatAccountNumber(*id));
                return;
        }
    }

    // The list of an account's ringtones; today's phones get a download button for each.
    std::string ringtoneList(int id, const std::string& password, bool buttons) {
        const std::string code = formatAccountNumber(id);
        std::string body = "<h1>Your ringtones</h1>\n<p>Personal code " + code + "</p>\n";
        const auto files = store_->files(id);
        if (files.empty())
            body += "<p>No ringtones are waiting here.</p>\n";
        else
            body += "<p>Pick a ringtone to save it to your phone.</p>\n<ol>\n";
        for (const StoredFile& file : files) {
            std::string href = "get.ashx?id=" + code + "&f=" + std::to_string(file.number);
            if (!password.empty())
                href += "&pwd=" + queryEscape(password);
            const std::string name = htmlEscape(cleanText(file.displayName, kMaxDisplayName));
            const std::string size = std::to_string((file.size + 1023) / 1024) + " KB";
            const std::string type = ringtoneMediaType(file.extension);
            if (buttons)
                body += "<li><span class=\"name\">" + name + "</span> <span class=\"size\">(" +
                        size + ")</span>\n<a class=\"download\" href=\"" + htmlEscape(href) +
                        "\" type=\"" + type + "\" download=\"" + name + "\">Download</a></li>\n";
            else
                body += "<li><a href=\"" + htmlEscape(href) + "\" type=\"" + type + "\">" + name +
                        "</a> (" + size + ")</li>\n";
        }
        if (!files.empty())
            body += "</ol>\n";
        return body;
    }

    static std::string passwordBody(int id, bool wasWrong) {
        std::string body = "<h1>Your ringtones</h1>\n";
        if (wasWrong)
            body += "<p>Wrong password.</p>\n";
        body += "<form action=\"./\" method=\"get\">\n<p>Personal code " + formatAccountNumber(id) +
                " is protected by a password.<br/>\n<input type=\"hidden\" name=\"id\" value=\"" +
                formatAccountNumber(id) +
                "\"/>\nPassword:<br/>\n<input type=\"password\" name=\"pwd\" size=\"8\"/>\n"
                "<input type=\"submit\" value=\"Open\"/></p>\n</form>\n";
        return body;
    }

    static std::string homeBody() {
        return "<h1>Tolvane ringtones</h1>\n"
               "<p>Ringtones made with Tolvane on this computer wait here until your phone "
               "fetches them.</p>\n" +
               codeForm("Enter the personal code Tolvane showed you:") +
               "<p><a href=\"./?contacts\">Contact us</a></p>\n";
    }

    static std::string contactsBody() {
        return "<h1>Contact us</h1>\n"
               "<p>This pick-up service is the local installation of Tolvane. Questions about "
               "it go to whoever runs this computer.</p>\n"
               "<p><a href=\"./\">Back to the start page</a></p>\n";
    }

    std::shared_ptr<AccountStore> store_;
    const ServiceConfig& config_;
    std::multimap<std::string, std::string> params_;
};

}  // namespace

std::string ringtoneMediaType(const std::string& extension) {
    // "amr", not ".amr": a name ending in a bare dot has no type.
    if (extension.empty() || extension.front() == '.')
        return {};
    return std::string(tolvane::mediaTypeOfExtension(extension));
}

bool looksLike(const std::string& extension, const std::string& bytes) {
    auto at = [&](std::size_t offset, std::string_view magic) {
        return bytes.size() >= offset + magic.size() &&
               bytes.compare(offset, magic.size(), magic) == 0;
    };
    const std::string ext = lower(extension);
    if (ext == "wav")
        return at(0, "RIFF") && at(8, "WAVE");
    if (ext == "qcp")
        return at(0, "RIFF") && at(8, "QLCM");
    if (ext == "mmf")
        return at(0, "MMMD");
    if (ext == "amr")
        return at(0, "#!AMR\n");
    if (ext == "mid")
        return at(0, "MThd");
    // An MPEG-4 file opens with its "ftyp" box; an Ogg stream with its first page's capture
    // pattern.
    if (ext == "m4r")
        return at(4, "ftyp");
    if (ext == "ogg")
        return at(0, "OggS");
    if (ext == "mp3")
        return at(0, "ID3") || (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                                (static_cast<unsigned char>(bytes[1]) & 0xE0) == 0xE0);
    return false;
}

SkyletHandlerFactory::SkyletHandlerFactory(std::shared_ptr<AccountStore> store,
                                           ServiceConfig config)
    : store_(std::move(store)), config_(std::move(config)) {}

Poco::Net::HTTPRequestHandler* SkyletHandlerFactory::createRequestHandler(
    const Poco::Net::HTTPServerRequest&) {
    return new SkyletHandler(store_, config_);
}

}  // namespace skylet
