// tolvane-convert sending its ringtones: the real program, installed in a prefix of its own whose
// machine settings name a skyletd started for the test, with a real SMTP server behind it.
#include <gtest/gtest.h>

#include <Poco/Base64Decoder.h>
#include <Poco/JSON/Array.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "delivery/local_servers.h"
#include "delivery/skylet_client.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using test::SkyletServer;
using test::SmtpServer;
namespace fs = std::filesystem;

std::string fromBase64(const std::string& text) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), {});
}

class ConvertSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Each test starts without an upload account.
        setenv("XDG_CONFIG_HOME", (dir_.path() / "config").c_str(), 1);
        ASSERT_TRUE(test::makeTone(dir_.file("first song.wav"), 22050, 1, 16, 1.0));
        ASSERT_TRUE(test::makeTone(dir_.file("second.wav"), 22050, 1, 16, 1.0, "sine 660"));
    }

    // tolvane-convert installed under a prefix whose machine settings name `serviceUrl`.
    void install(const std::string& serviceUrl) {
        const fs::path prefix = dir_.path() / "prefix";
        fs::create_directories(prefix / "bin");
        fs::copy_file(test::binDir() / "tolvane-convert", prefix / "bin/tolvane-convert",
                      fs::copy_options::overwrite_existing);
        const auto hive =
            test::run({(test::libexecDir() / "tolvane-hive").string(), "--root",
                       (prefix / "etc/tolvane/registry").string(), "--set",
                       "AppPath=" + test::appDir().string(), "--set", "SkyletURL=" + serviceUrl});
        ASSERT_EQ(hive.status, 0) << hive.errors;
        program_ = (prefix / "bin/tolvane-convert").string();
    }

    test::CommandResult convert(std::vector<std::string> args) {
        args.insert(args.begin(), program_);
        return test::run(args);
    }

    std::string song(const std::string& name) const { return dir_.file(name); }

    test::TempDir dir_;
    std::string program_;
};

TEST_F(ConvertSendTest, WapUploadsForThePickUpPage) {
    SkyletServer skylet;
    install(skylet.baseUrl());
    const auto result =
        convert({"-f", "wav-medium", "--send", "WAP", song("first song.wav"), song("second.wav")});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output, "");  // nothing stored
    EXPECT_NE(result.errors.find("enter your personal code: 0001"), std::string::npos)
        << result.errors;

    // The phone's view: the pick-up page lists both, and each download is a ringtone WAV file.
    const fs::path got = dir_.path() / "got.wav";
    const std::string page = test::httpGet(skylet.baseUrl() + "?id=0001");
    EXPECT_NE(page.find(">first song.wav<"), std::string::npos) << page;
    EXPECT_NE(page.find(">second.wav<"), std::string::npos);
    std::ofstream(got, std::ios::binary)
        << test::httpGet(skylet.baseUrl() + "get.ashx?id=0001&f=2");
    EXPECT_EQ(test::probe(got.string(), "codec_name"), "pcm_u8");
    EXPECT_EQ(test::probe(got.string(), "sample_rate"), "8000");
}

TEST_F(ConvertSendTest, WapWithAFolderStoresAsWell) {
    SkyletServer skylet;
    install(skylet.baseUrl());
    const auto result =
        convert({"-f", "wav-medium", "-o", dir_.file("out"), "--send", "wap", song("second.wav")});
    ASSERT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.output, dir_.file("out") + "/second.wav\n");
    EXPECT_TRUE(fs::exists(dir_.file("out") + "/second.wav"));
}

TEST_F(ConvertSendTest, MmsMailsEachRingtone) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    install(skylet.baseUrl());
    const auto result = convert({"-f", "wav-medium", "--send", "MMS", "--carrier", "15",
                                 "--phone-number", "5551234567", "--email", "me@example.org",
                                 song("first song.wav"), song("second.wav")});
    ASSERT_EQ(result.status, 0) << result.errors;
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 2u);
    const auto mail = SmtpServer::parse(mails[0]);
    EXPECT_EQ(mail->getValue<std::string>("to"), "5551234567@vzwpix.com");
    const auto tone = mail->getArray("parts")->getObject(1);
    EXPECT_EQ(tone->getValue<std::string>("filename"), "first song.wav");
    EXPECT_EQ(tone->getValue<std::string>("content_type"), "audio/x-wav");
    const std::string attached = dir_.file("attached.wav");
    std::ofstream(attached, std::ios::binary) << fromBase64(tone->getValue<std::string>("data"));
    EXPECT_EQ(test::probe(attached, "sample_rate"), "8000");
    EXPECT_EQ(test::probe(attached, "codec_name"), "pcm_u8");
}

TEST_F(ConvertSendTest, SmsPlusWapMailsTheLink) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    install(skylet.baseUrl());
    const auto result =
        convert({"-f", "wav-medium", "--send", "SMS+WAP", "--carrier", "29", "--phone-number",
                 "5551234567", "--email", "me@example.org", song("second.wav")});
    ASSERT_EQ(result.status, 0) << result.errors;
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 1u);
    const auto text = SmtpServer::parse(mails[0])->getArray("parts")->getObject(0);
    EXPECT_EQ(fromBase64(text->getValue<std::string>("data")),
              "Open this link to get your ringtones: " + skylet.baseUrl() + "?id=0001");
}

TEST_F(ConvertSendTest, RefusedChoicesAndFailuresGiveTheirLines) {
    SmtpServer refusing("auth1");
    SkyletServer skylet({.relay = refusing.hostText()});
    install(skylet.baseUrl());
    const std::vector<std::string> mms = {"--send", "MMS", "--carrier", "15"};
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;
    } cases[] = {
        {{"--email", "me@example.org"},
         2,
         "You cannot proceed without entering your phone number."},
        {{"--phone-number", "555-1234", "--email", "me@example.org"},
         2,
         "Only digits are allowed in phone number."},
        {{"--phone-number", "5551234"},
         2,
         "You cannot proceed without entering your e-mail address."},
        {{"--phone-number", "5551234", "--email", "1me@example.org"},
         2,
         "E-mail address you entered seems to be invalid."},
        {{"--phone-number", "5551234", "--email", "me@example.org"}, 1, "SMTP server error."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-f", "wav-medium"};
        args.insert(args.end(), mms.begin(), mms.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(song("second.wav"));
        const auto result = convert(args);
        EXPECT_EQ(result.status, c.status) << c.line;
        EXPECT_NE(result.errors.find(c.line + "\n"), std::string::npos) << result.errors;
    }
    const auto badCarrier =
        convert({"-f", "wav-medium", "--send", "MMS", "--carrier", "3", "--phone-number", "5551234",
                 "--email", "me@example.org", song("second.wav")});
    EXPECT_EQ(badCarrier.status, 1);
    EXPECT_NE(badCarrier.errors.find("bad carrier data\n"), std::string::npos);

    std::string closed;
    {
        test::SilentServer gone;
        closed = gone.baseUrl();
    }
    install(closed);
    const auto down = convert({"-f", "wav-medium", "--send", "WAP", song("second.wav")});
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.errors.find(std::string(delivery::kCannotConnect) + "\n"), std::string::npos)
        << down.errors;
    EXPECT_EQ(convert({"--carrier", "15", song("second.wav")}).status, 2);
    EXPECT_EQ(convert({"--send", "FAX", song("second.wav")}).status, 2);
    EXPECT_EQ(convert({"--send", "WAP", "--carrier", "4711", song("second.wav")}).status, 2);
}

TEST_F(ConvertSendTest, WrongPasswordWithoutATerminalEndsWithTheServicesMessage) {
    SkyletServer skylet;
    install(skylet.baseUrl());
    ASSERT_EQ(convert({"-f", "wav-medium", "--send", "WAP", song("second.wav")}).status, 0);
    delivery::SkyletClient(skylet.baseUrl(), "0001").setPassword("42&x");

    const auto refused = convert({"-f", "wav-medium", "--send", "WAP", song("first song.wav")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("Wrong password specified. Cannot access to Skylet account.\n"),
              std::string::npos)
        << refused.errors;

    const auto accepted = convert(
        {"-f", "wav-medium", "--send", "WAP", "--password", "42&x", song("first song.wav")});
    EXPECT_EQ(accepted.status, 0) << accepted.errors;
    const std::string page = test::httpGet(skylet.baseUrl() + "?id=0001&pwd=42%26x");
    EXPECT_NE(page.find(">first song.wav<"), std::string::npos);
}

}  // namespace
}  // namespace tolvane
