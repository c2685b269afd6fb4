// Mail to the gateways through a real SMTP server (aiosmtpd, AUTH LOGIN), parsed back with
// Python's email package.
#include <gtest/gtest.h>

#include <Poco/Base64Decoder.h>
#include <Poco/Environment.h>
#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/Net/NetException.h>

#include <fstream>
#include <sstream>

#include "delivery/local_servers.h"
#include "delivery/mail_delivery.h"
#include "support/test_support.h"

namespace tolvane::delivery {
namespace {

using namespace std::chrono_literals;
using test::SkyletServer;
using test::SmtpServer;

std::string fromBase64(const std::string& text) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), {});
}

std::string writeRingtone(const test::TempDir& dir, const std::string& name, std::size_t size) {
    const std::string path = dir.file(name);
    std::string ext = name.substr(name.rfind('.') + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    std::ofstream(path, std::ios::binary) << test::ringtoneBytes(ext, size);
    return path;
}

MailAddressing verizonUser() {
    return MailAddressing{15, "5551234567", "me@example.org"};
}

TEST(MediaType, ByExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b.mp3", "audio/mpeg"},
        {"/a/B.MP3", "audio/mpeg"},
        {"x.wav", "audio/x-wav"},
        {"x.mmf", "application/vnd.smaf"},
        {"x.amr", "audio/amr"},
        {"x.qcp", "audio/vnd.qcelp"},
        {"x.mid", "audio/midi"},
        {"x.m4r", "audio/mp4"},
        {"/My Ringtones/X.M4R", "audio/mp4"},
        {"x.ogg", "audio/ogg"},
        {"x.m4a", "application/octet-stream"},
        {"/dir.d/noext", "application/octet-stream"},
        {"noext", "application/octet-stream"},
    };
    for (const auto& [path, type] : cases)
        EXPECT_EQ(mediaTypeOf(path), type) << path;
}

TEST(PartSource, ReadsTheFileUnderItsBaseName) {
    test::TempDir dir;
    const std::string path = writeRingtone(dir, "t\xC3\xB6ne.amr", 50);
    UnicodeAwareFilePartSource source(path, "audio/amr");
    EXPECT_EQ(source.filename(), "t\xC3\xB6ne.amr");
    EXPECT_EQ(source.mediaType(), "audio/amr");
    std::string bytes((std::istreambuf_iterator<char>(source.stream())), {});
    EXPECT_EQ(bytes, test::ringtoneBytes("amr", 50));
    try {
        UnicodeAwareFilePartSource missing(dir.file("gone.amr"), "audio/amr");
        FAIL() << "a missing file must not make a part";
    } catch (const Poco::IOException& error) {
        EXPECT_EQ(error.message().rfind("File open error", 0), 0u) << error.message();
    }
}

TEST(MailDelivery, ThreeSmafFilesByMms) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    test::TempDir dir;
    std::vector<std::string> files = {writeRingtone(dir, "one.mmf", 3000),
                                      writeRingtone(dir, "two.mmf", 100),
                                      writeRingtone(dir, "thr\xC3\xA9\xE2\x82\xAC.mmf", 10)};
    const std::vector<std::string> names = {"one.mmf", "two.mmf", "thr\xC3\xA9\xE2\x82\xAC.mmf"};
    const std::vector<std::string> contents = {test::ringtoneBytes("mmf", 3000),
                                               test::ringtoneBytes("mmf", 100),
                                               test::ringtoneBytes("mmf", 10)};

    SkyletClient service(skylet.baseUrl());
    MailDelivery mail(service, verizonUser());
    std::vector<int> progress;
    mail.sendMms(files, [&](int percent) { progress.push_back(percent); });

    EXPECT_TRUE(files.empty());
    EXPECT_EQ(progress, (std::vector<int>{33, 66, 100}));
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 3u);
    for (std::size_t i = 0; i < mails.size(); ++i) {
        const auto envelope = SmtpServer::envelope(mails[i]);
        EXPECT_EQ(envelope->getValue<std::string>("login"), SmtpServer::kUser);
        EXPECT_EQ(envelope->getValue<std::string>("helo"), Poco::Environment::nodeName());
        EXPECT_EQ(envelope->getValue<std::string>("mail_from"), "me@example.org");
        const auto mail = SmtpServer::parse(mails[i]);
        EXPECT_EQ(mail->getValue<std::string>("subject"), "Ringtone");
        EXPECT_EQ(mail->getValue<std::string>("to"), "5551234567@vzwpix.com");
        EXPECT_EQ(mail->getValue<std::string>("from"), "me@example.org");
        EXPECT_EQ(mail->getValue<std::string>("content_type"), "multipart/mixed");
        const auto parts = mail->getArray("parts");
        ASSERT_EQ(parts->size(), 2u);
        const auto text = parts->getObject(0);
        EXPECT_EQ(text->getValue<std::string>("content_type"), "text/plain");
        EXPECT_EQ(text->getValue<std::string>("transfer_encoding"), "quoted-printable");
        EXPECT_EQ(fromBase64(text->getValue<std::string>("data")), kMmsBody);
        const auto tone = parts->getObject(1);
        EXPECT_EQ(tone->getValue<std::string>("content_type"), "application/vnd.smaf");
        EXPECT_EQ(tone->getValue<std::string>("disposition"), "attachment");
        EXPECT_EQ(tone->getValue<std::string>("name_param"), "ringtone");
        EXPECT_EQ(tone->getValue<std::string>("filename"), names[i]);
        EXPECT_EQ(tone->getValue<std::string>("transfer_encoding"), "base64");
        EXPECT_TRUE(fromBase64(tone->getValue<std::string>("data")) == contents[i]) << i;
    }
}

TEST(MailDelivery, SmsNoticeCarriesThePickUpLink) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    SkyletClient service(skylet.baseUrl());
    MailDelivery mail(service, MailAddressing{29, "5551234567", "me@example.org"});
    mail.sendSmsNotice("0007");
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 1u);
    const auto parsed = SmtpServer::parse(mails[0]);
    EXPECT_EQ(parsed->getValue<std::string>("to"), "5551234567@messaging.sprintpcs.com");
    EXPECT_EQ(parsed->getValue<std::string>("subject"), "Ringtone");
    const auto parts = parsed->getArray("parts");
    ASSERT_EQ(parts->size(), 1u);
    EXPECT_EQ(parts->getObject(0)->getValue<std::string>("content_type"), "text/plain");
    EXPECT_EQ(fromBase64(parts->getObject(0)->getValue<std::string>("data")),
              "Open this link to get your ringtones: " + skylet.baseUrl() + "?id=0007");
}

TEST(MailDelivery, RefusalsAtEachStepAreSmtpErrors) {
    test::TempDir dir;
    const std::string file = writeRingtone(dir, "one.amr", 100);
    const std::pair<const char*, const char*> cases[] = {
        {"auth1", "AUTH(1) failed"}, {"auth2", "AUTH(2) failed"}, {"auth3", "AUTH(3) failed"},
        {"mail", nullptr},           {"rcpt", nullptr},           {"data", nullptr},
    };
    for (const auto& [step, message] : cases) {
        SmtpServer smtp(step);
        SkyletServer skylet({.relay = smtp.hostText()});
        SkyletClient service(skylet.baseUrl());
        MailDelivery mail(service, verizonUser());
        std::vector<std::string> files = {file};
        try {
            mail.sendMms(files, {});
            ADD_FAILURE() << step << ": no failure";
        } catch (const Poco::Net::SMTPException& error) {
            if (message) {
                // The server's reply follows the text.
                EXPECT_EQ(error.message().rfind(message, 0), 0u) << error.message();
            }
        }
        EXPECT_EQ(files.size(), 1u) << step;
        EXPECT_TRUE(smtp.mails().empty()) << step;
    }
}

TEST(MailDelivery, BadCarrierData) {
    SkyletServer skylet({.relay = "127.0.0.1:1"});
    SkyletClient service(skylet.baseUrl());
    MailDelivery mms(service, MailAddressing{3, "5551234567", "me@example.org"});  // no MMS
    std::vector<std::string> files = {"/nonexistent.amr"};
    try {
        mms.sendMms(files, {});
        FAIL();
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "bad carrier data");
    }
    MailDelivery sms(service, MailAddressing{0, "5551234567", "me@example.org"});
    EXPECT_THROW(sms.sendSmsNotice("0001"), std::logic_error);
}

TEST(MailDelivery, RelayTroubleIsANetworkFailure) {
    test::TempDir dir;
    std::vector<std::string> files = {writeRingtone(dir, "one.amr", 100)};
    std::string closed;
    {
        test::SilentServer gone;
        closed = "127.0.0.1:" + std::to_string(gone.port());
    }
    SkyletServer refused({.relay = closed});
    SkyletClient refusedService(refused.baseUrl());
    EXPECT_THROW(MailDelivery(refusedService, verizonUser()).sendMms(files, {}),
                 Poco::Net::NetException);

    test::SilentServer silent;
    SkyletServer quiet({.relay = "127.0.0.1:" + std::to_string(silent.port())});
    SkyletClient quietService(quiet.baseUrl());
    MailDelivery mail(quietService, verizonUser());
    mail.setTimeout(400ms);
    EXPECT_THROW(mail.sendMms(files, {}), Poco::TimeoutException);
    EXPECT_EQ(files.size(), 1u);

    // The service itself is down: its own message.
    SkyletClient downService(std::string("http://") + closed + "/");
    EXPECT_THROW(MailDelivery(downService, verizonUser()).sendMms(files, {}), SkyletException);
}

TEST(MailDelivery, VanishedFileStopsWithTheRestStillListed) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    test::TempDir dir;
    std::vector<std::string> files = {writeRingtone(dir, "one.amr", 100), dir.file("gone.amr"),
                                      writeRingtone(dir, "three.amr", 100)};
    SkyletClient service(skylet.baseUrl());
    MailDelivery mail(service, verizonUser());
    EXPECT_THROW(mail.sendMms(files, {}), Poco::IOException);
    EXPECT_EQ(smtp.mails().size(), 1u);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], dir.file("gone.amr"));
}

}  // namespace
}  // namespace tolvane::delivery
