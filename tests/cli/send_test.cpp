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
    EXPECT_NE(result.errors.find("Pick-up address: " + skylet.baseUrl() + "?id=0001\n"),
              std::string::npos);

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

// The half-block drawing of a QR code as a grey image zbarimg reads: a drawn (light) half is
// white, an empty one black; four pixels a module.
std::string halfBlocksToPgm(const std::string& text) {
    std::vector<std::vector<bool>> light;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find("\u2588") == std::string::npos)
            continue;
        std::vector<bool> top, bottom;
        for (std::size_t at = 0; at < line.size();) {
            if (line[at] == ' ') {
                top.push_back(false), bottom.push_back(false), ++at;
            } else {
                const std::string glyph = line.substr(at, 3);
                top.push_back(glyph == "\u2588" || glyph == "\u2580");
                bottom.push_back(glyph == "\u2588" || glyph == "\u2584");
                at += 3;
            }
        }
        light.push_back(top);
        light.push_back(bottom);
    }
    constexpr int kScale = 4;
    const std::size_t height = light.size(), width = height ? light[0].size() : 0;
    std::string pgm =
        "P5\n" + std::to_string(width * kScale) + " " + std::to_string(height * kScale) + "\n255\n";
    for (std::size_t y = 0; y < height * kScale; ++y)
        for (std::size_t x = 0; x < width * kScale; ++x) {
            const auto& row = light[y / kScale];
            pgm += char(x / kScale < row.size() && row[x / kScale] ? 255 : 0);
        }
    return pgm;
}

// On a terminal the pick-up address comes with a QR code a phone's camera reads.
TEST_F(ConvertSendTest, QrCodeOnATerminal) {
    if (!test::haveTool("script") || !test::haveTool("zbarimg"))
        GTEST_SKIP() << "script (util-linux) or zbarimg (zbar-tools) is not installed";
    SkyletServer skylet;
    install(skylet.baseUrl());
    // script(1) gives the program a terminal for its standard output.
    const std::string command =
        "'" + program_ + "' -f wav-medium --send WAP '" + song("first song.wav") + "' 2>/dev/null";
    const auto result = test::run({"script", "-qec", command, "/dev/null"});
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Scan this with the phone's camera:"), std::string::npos)
        << result.output;
    std::ofstream(dir_.file("qr.pgm"), std::ios::binary) << halfBlocksToPgm(result.output);
    const auto decoded = test::run({"zbarimg", "--raw", "-q", dir_.file("qr.pgm")});
    EXPECT_EQ(decoded.output, skylet.baseUrl() + "?id=0001\n") << result.output;

    // Piped, the output stays the list of stored ringtones (none here): no drawing.
    const auto piped = convert({"-f", "wav-medium", "--send", "WAP", song("first song.wav")});
    EXPECT_EQ(piped.output, "");
}

}  // namespace
}  // namespace tolvane
