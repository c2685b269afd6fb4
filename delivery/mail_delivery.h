// Mail to the carriers' gateways through the relay the Skylet service names: every ringtone as
// an MMS attachment, or one SMS notice with the pick-up link.
//
// Failures are thrown as the mail library reports them: Poco::Net::SMTPException for refused
// commands (also "AUTH(1) failed", "AUTH(2) failed", "AUTH(3) failed"), Poco::Net::NetException
// or Poco::TimeoutException for connection trouble, std::logic_error("bad carrier data"), and
// the service's SkyletException from the relay request. The sending phase maps them to the
// worker's error lines.
#pragma once

#include <Poco/Net/PartSource.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "delivery/skylet_client.h"

namespace tolvane::delivery {

inline constexpr std::string_view kMailSubject = "Ringtone";
inline constexpr std::string_view kMmsBody =
    "This message contains your ringtone. Thank you for using Tolvane.";
inline constexpr std::string_view kAttachmentName = "ringtone";
inline constexpr std::string_view kSmsBodyPrefix = "Open this link to get your ringtones: ";

// The media type of a ringtone by its extension (case-insensitive); "application/octet-stream"
// for any other.
std::string mediaTypeOf(const std::string& path);

// A mail part over one ringtone file. Its file name is the path's base name (UTF-8, kept as it
// is); its stream reads the file's bytes unchanged.
class UnicodeAwareFilePartSource : public Poco::Net::PartSource {
public:
    // Throws Poco::IOException("File open error") when the file cannot be opened.
    UnicodeAwareFilePartSource(const std::string& path, const std::string& mediaType);

    std::istream& stream() override { return stream_; }
    const std::string& filename() const override { return filename_; }

private:
    std::ifstream stream_;
    std::string filename_;
};

// Who the mail is for: the carrier (its gateways), the phone and the sender.
struct MailAddressing {
    std::uint32_t carrier = 0;
    std::string phoneNumber;
    std::string email;
};

class MailDelivery {
public:
    // `service` supplies the relay record at the moment of sending.
    MailDelivery(SkyletClient& service, MailAddressing addressing);

    // How long the relay may take for one step of the conversation.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // Mails each file of the list to the MMS gateway, one message per file. A file is removed
    // from the list once its message is sent, so after a failure the list holds exactly the
    // files not yet sent. `progress` receives (k + 1) * 100 / n after each message.
    void sendMms(std::vector<std::string>& files, const std::function<void(int)>& progress);

    // Mails the pick-up link of the account to the SMS gateway.
    void sendSmsNotice(const std::string& accountNumber);

private:
    SkyletClient& service_;
    MailAddressing addressing_;
    std::chrono::milliseconds timeout_ = SkyletClient::kDefaultTimeout;
};

}  // namespace tolvane::delivery
