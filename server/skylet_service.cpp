#include "server/skylet_service.h"

#include "server/request_parsing.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/MultipartReader.h>
#include <Poco/URI.h>

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

// One log line per request; password values are never written out.
void logRequest(const HTTPServerRequest& request, int status, const std::string& summary) {
    std::string uri = request.getURI();
    for (const char* key : {"pwd=", "old=", "new="}) {
        for (std::size_t at = uri.find(key); at != std::string::npos; at = uri.find(key, at + 1)) {
            if (at > 0 && uri[at - 1] != '?' && uri[at - 1] != '&')
                continue;
            const std::size_t end = std::min(uri.find('&', at), uri.size());
            uri.replace(at + 4, end - at - 4, "***");
        }
    }
    std::lock_guard lock(logMutex);
    std::cerr << request.clientAddress().host().toString() << ' ' << request.getMethod() << ' '
              << uri << ' ' << status << ' ' << summary << std::endl;
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

std::string page(const std::string& title, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" "
           "\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n<title>" +
           htmlEscape(title) +
           "</title>\n<meta name=\"viewport\" content=\"width=device-width\"/>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

std::string codeForm(const std::string& note) {
    return (note.empty() ? "" : "<p>" + htmlEscape(note) + "</p>\n") +
           "<form action=\"./\" method=\"get\">\n<p>Personal code:<br/>\n"
           "<input type=\"text\" name=\"id\" size=\"8\" maxlength=\"9\"/>\n"
           "<input type=\"submit\" value=\"Open\"/></p>\n</form>\n";
}

class Reply {
public:
    Reply(HTTPServerRequest& request, HTTPServerResponse& response)
        : request_(request), response_(response) {}

    void text(const std::string& body, const std::string& summary = {}) {
        send(HTTPResponse::HTTP_OK, "text/plain; charset=us-ascii", body,
             summary.empty() ? body : summary);
    }
    // Phone browsers that name the WAP media type in Accept get it; everyone else gets the
    // standard XHTML type, which desktop browsers and most WAP 2.0 browsers read.
    void xhtml(const std::string& body, const std::string& summary,
               HTTPResponse::HTTPStatus status = HTTPResponse::HTTP_OK) {
        const bool wap =
            request_.get("Accept", "").find("application/vnd.wap.xhtml+xml") != std::string::npos;
        send(status, wap ? kWapXhtmlType : kXhtmlType, body, summary);
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
        else if (path == "/" || path == "/index.html")
            pickUpPage(reply, uri.getRawQuery());
        else
            reply.xhtml(page("Not found", "<p>There is no such page.</p>\n"), "not found",
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
        reply.text(id ? accessReply(store_->wipe(*id, param("pwd"))) : "ERR REQUEST");
    }

    void changePassword(Reply& reply) {
        const auto id = account();
        reply.text(id ? accessReply(store_->changePassword(*id, param("old"), param("new")))
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
        const Access access = store_->check(*id, param("pwd"));
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
        std::optional<std::filesystem::path> path;
        if (id && number && store_->check(*id, param("pwd")) == Access::Granted)
            path = store_->filePath(*id, *number);
        if (!path) {
            reply.xhtml(page("Not found", "<p>This ringtone is not available.</p>\n"), "not found",
                        HTTPResponse::HTTP_NOT_FOUND);
            return;
        }
        std::ifstream in(*path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string name;
        for (const StoredFile& file : store_->files(*id))
            if (file.number == *number)
                name = file.displayName;
        std::string quoted;
        for (char c : name)
            quoted += (c == '"' || c == '\\') ? '_' : c;
        reply.response().set("Content-Disposition", "attachment; filename=\"" + quoted + "\"");
        reply.send(HTTPResponse::HTTP_OK, ringtoneMediaType(extensionOf(path->string())),
                   bytes.str(), "file " + path->filename().string());
    }

    void pickUpPage(Reply& reply, const std::string& rawQuery) {
        if (rawQuery == "contacts") {
            reply.xhtml(contactsPage(), "contacts");
            return;
        }
        if (param("id").empty()) {
            reply.xhtml(homePage(), "home");
            return;
        }
        const auto id = account();
        if (!id) {
            reply.xhtml(page("Ringtones", codeForm("Unknown personal code.")), "unknown code");
            return;
        }
        const std::string password = param("pwd");
        switch (store_->check(*id, password)) {
            case Access::UnknownAccount:
                reply.xhtml(page("Ringtones", codeForm("Unknown personal code.")), "unknown code");
                return;
            case Access::Expired:
                reply.xhtml(
                    page("Ringtones", "<p>This personal code has expired.</p>\n" + codeForm({})),
                    "expired");
                return;
            case Access::WrongPassword:
                reply.xhtml(passwordPage(*id, !password.empty()), "password asked");
                return;
            case Access::Granted:
                reply.xhtml(ringtoneList(*id, password), "list " + formatAccountNumber(*id));
                return;
        }
    }

    std::string ringtoneList(int id, const std::string& password) {
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
            body += "<li><a href=\"" + htmlEscape(href) + "\" type=\"" +
                    ringtoneMediaType(file.extension) + "\">" +
                    htmlEscape(cleanText(file.displayName, kMaxDisplayName)) + "</a> (" +
                    std::to_string((file.size + 1023) / 1024) + " KB)</li>\n";
        }
        if (!files.empty())
            body += "</ol>\n";
        return page("Your ringtones", body);
    }

    static std::string passwordPage(int id, bool wasWrong) {
        std::string body = "<h1>Your ringtones</h1>\n";
        if (wasWrong)
            body += "<p>Wrong password.</p>\n";
        body += "<form action=\"./\" method=\"get\">\n<p>Personal code " + formatAccountNumber(id) +
                " is protected by a password.<br/>\n<input type=\"hidden\" name=\"id\" value=\"" +
                formatAccountNumber(id) +
                "\"/>\nPassword:<br/>\n<input type=\"password\" name=\"pwd\" size=\"8\"/>\n"
                "<input type=\"submit\" value=\"Open\"/></p>\n</form>\n";
        return page("Your ringtones", body);
    }

    static std::string homePage() {
        return page("Tolvane ringtones",
                    "<h1>Tolvane ringtones</h1>\n"
                    "<p>Ringtones made with Tolvane on this computer wait here until your phone "
                    "fetches them.</p>\n" +
                        codeForm("Enter the personal code Tolvane showed you:") +
                        "<p><a href=\"./?contacts\">Contact us</a></p>\n");
    }

    static std::string contactsPage() {
        return page("Contact us",
                    "<h1>Contact us</h1>\n"
                    "<p>This pick-up service is the local installation of Tolvane. Questions about "
                    "it go to whoever runs this computer.</p>\n"
                    "<p><a href=\"./\">Back to the start page</a></p>\n");
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
