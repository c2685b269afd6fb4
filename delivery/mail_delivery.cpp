#include "delivery/mail_delivery.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MailRecipient.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SMTPClientSession.h>
#include <Poco/Net/StringPartSource.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "delivery/account.h"
#include "delivery/carriers.h"
#include "encoders/ringtone_formats.h"

namespace tolvane::delivery {
namespace {

using Poco::Net::MailMessage;
using Poco::Net::SMTPClientSession;

// (k + 1) * 100 / n with integer division, clamped to 0..100.
int percentSent(std::size_t sent, std::size_t total) {
    return total == 0 ? 100 : int(std::min<std::size_t>(sent * 100 / total, 100));
}

std::string base64(const std::string& text) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);  // one line: it is a single SMTP command
    encoder << text;
    encoder.close();
    return out.str();
}

// An authenticated SMTP session with the relay; it says goodbye when it goes away.
class RelaySession {
public:
    RelaySession(const RelayRecord& relay, std::chrono::milliseconds timeout) {
        const auto hostPort = splitHostPort(relay.host, SMTPClientSession::SMTP_PORT);
        if (!hostPort)
            throw Poco::Net::HostNotFoundException(relay.host);
        const auto& [host, port] = *hostPort;
        const Poco::Timespan span(
            std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
        Poco::Net::SocketAddress address(host, port);
        Poco::Net::StreamSocket socket;
        socket.connect(address, span);
        session_ = std::make_unique<SMTPClientSession>(socket);
        session_->setTimeout(span);
        session_->login();  // EHLO with this computer's name, HELO when refused
        authenticate(relay.user, relay.password);
    }

    ~RelaySession() {
        try {
            if (session_)
                session_->close();
        } catch (...) {
            // The session is going away anyway; a failed QUIT changes nothing.
        }
    }

    void send(const MailMessage& message) { session_->sendMessage(message); }

    // Says goodbye; failures are reported, unlike in the destructor.
    void quit() {
        auto session = std::move(session_);
        session->close();
    }

private:
    // LOGIN authentication as three commands, each with the reply code it must get.
    void authenticate(const std::string& user, const std::string& password) {
        std::string reply;
        if (session_->sendCommand("AUTH LOGIN", reply) != 334)
            throw Poco::Net::SMTPException("AUTH(1) failed", reply);
        if (session_->sendCommand(base64(user), reply) != 334)
            throw Poco::Net::SMTPException("AUTH(2) failed", reply);
        if (session_->sendCommand(base64(password), reply) / 100 != 2)
            throw Poco::Net::SMTPException("AUTH(3) failed", reply);
    }

    std::unique_ptr<SMTPClientSession> session_;
};

std::string recipientFor(const MailAddressing& addressing, GatewayKind kind) {
    const auto pattern = carrierGateway(addressing.carrier, kind);
    if (!pattern)
        throw std::logic_error("bad carrier data");
    return gatewayAddress(*pattern, addressing.phoneNumber);
}

void address(MailMessage& message, const MailAddressing& addressing, const std::string& recipient) {
    message.setSender(addressing.email);
    message.addRecipient(
        Poco::Net::MailRecipient(Poco::Net::MailRecipient::PRIMARY_RECIPIENT, recipient));
    message.setSubject(std::string(kMailSubject));
}

void addText(MailMessage& message, const std::string& text) {
    message.addContent(new Poco::Net::StringPartSource(text, "text/plain"),
                       MailMessage::ENCODING_QUOTED_PRINTABLE);
}

}  // namespace

std::string mediaTypeOf(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return "application/octet-stream";
    const std::string_view type = mediaTypeOfExtension(std::string_view(path).substr(dot));
    return type.empty() ? "application/octet-stream" : std::string(type);
}

UnicodeAwareFilePartSource::UnicodeAwareFilePartSource(const std::string& path,
                                                       const std::string& mediaType)
    : PartSource(mediaType), stream_(path, std::ios::binary), filename_(path) {
    if (!stream_.is_open())
        throw Poco::IOException("File open error", path);
    const std::size_t slash = filename_.find_last_of('/');
    if (slash != std::string::npos)
        filename_.erase(0, slash + 1);
}

MailDelivery::MailDelivery(SkyletClient& service, MailAddressing addressing)
    : service_(service), addressing_(std::move(addressing)) {}

void MailDelivery::sendMms(std::vector<std::string>& files,
                           const std::function<void(int)>& progress) {
    const RelayRecord relay = service_.fetchRelay();
    const std::string recipient = recipientFor(addressing_, GatewayKind::Mms);
    RelaySession session(relay, timeout_);
    const std::size_t total = files.size();
    for (std::size_t sent = 0; !files.empty(); ++sent) {
        MailMessage message;
        address(message, addressing_, recipient);
        addText(message, std::string(kMmsBody));
        message.addAttachment(
            std::string(kAttachmentName),
            new UnicodeAwareFilePartSource(files.front(), mediaTypeOf(files.front())),
            MailMessage::ENCODING_BASE64);
        session.send(message);
        if (progress)
            progress(percentSent(sent + 1, total));
        files.erase(files.begin());
    }
    session.quit();
}

void MailDelivery::sendSmsNotice(const std::string& accountNumber) {
    const RelayRecord relay = service_.fetchRelay();
    const std::string recipient = recipientFor(addressing_, GatewayKind::Sms);
    RelaySession session(relay, timeout_);
    MailMessage message;
    address(message, addressing_, recipient);
    addText(message, std::string(kSmsBodyPrefix) + pickUpLink(service_.baseUrl(), accountNumber));
    session.send(message);
    session.quit();
}

}  // namespace tolvane::delivery
