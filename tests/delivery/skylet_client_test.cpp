// The Skylet service client against our skyletd and against a scripted server for replies
// skyletd never gives.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "delivery/local_servers.h"
#include "delivery/skylet_client.h"
#include "support/test_support.h"

namespace tolvane::delivery {
namespace {

using test::ScriptedHttpServer;
using test::SkyletServer;
using namespace std::chrono_literals;

// The message of the SkyletException the call throws (or "no exception").
template <typename Call>
std::string failureOf(Call call) {
    try {
        call();
    } catch (const SkyletException& error) {
        return error.message();
    }
    return "no exception";
}

std::string writeRingtone(const test::TempDir& dir, const std::string& name, std::size_t size) {
    const std::string path = dir.file(name);
    const std::string ext = name.substr(name.rfind('.') + 1);
    std::ofstream(path, std::ios::binary) << test::ringtoneBytes(ext, size);
    return path;
}

// A GET below the service's base address ("/get.ashx?...").
std::string httpGet(const std::string& baseUrl, const std::string& path) {
    return test::httpGet(baseUrl + path.substr(1));
}

TEST(SkyletClient, CreateAccountParsesTheReply) {
    SkyletServer skylet;
    EXPECT_EQ(SkyletClient(skylet.baseUrl()).createAccount(), "0001");
    EXPECT_EQ(SkyletClient(skylet.baseUrl()).createAccount(), "0002");

    ScriptedHttpServer scripted;
    struct Case {
        std::string reply;
        std::string outcome;
    } cases[] = {
        {"7", "0007"},
        {"  12345\r\n", "12345"},
        {"42abc", "0042"},
        {"12" + std::string(1 << 20, '9'), "1299" + std::string(59, '9')},  // huge: 63 bytes read
        {"abc", std::string(kCannotNegotiate)},
        {"", std::string(kCannotNegotiate)},
        {std::string("\0\x01\x02", 3), std::string(kCannotNegotiate)},
    };
    for (const Case& c : cases) {
        scripted.reply("/reg.ashx", c.reply);
        std::string outcome;
        try {
            outcome = SkyletClient(scripted.baseUrl()).createAccount();
        } catch (const SkyletException& error) {
            outcome = error.message();
        }
        if (c.reply.size() > 1000)
            EXPECT_EQ(outcome.size(), 10u);  // clamped to the largest int
        else
            EXPECT_EQ(outcome, c.outcome) << c.reply;
    }
}

TEST(SkyletClient, FetchRelayNeedsThreeLines) {
    SkyletServer skylet({.relay = "127.0.0.1:2525"});
    const RelayRecord relay = SkyletClient(skylet.baseUrl()).fetchRelay();
    EXPECT_EQ(relay.host, "127.0.0.1:2525");
    EXPECT_EQ(relay.user, "relay-user");
    EXPECT_EQ(relay.password, "relay-secret");

    SkyletServer noRelay;
    EXPECT_EQ(failureOf([&] { SkyletClient(noRelay.baseUrl()).fetchRelay(); }), kCannotNegotiate);

    ScriptedHttpServer scripted;
    scripted.reply("/getrel.ashx", "\nmail.example\r\n\nuser\r\npass\r\n");
    const RelayRecord spaced = SkyletClient(scripted.baseUrl()).fetchRelay();
    EXPECT_EQ(spaced.host, "mail.example");
    EXPECT_EQ(spaced.user, "user");
    EXPECT_EQ(spaced.password, "pass");
    scripted.reply("/getrel.ashx", "mail.example\nuser\n");
    EXPECT_EQ(failureOf([&] { SkyletClient(scripted.baseUrl()).fetchRelay(); }), kCannotNegotiate);
}

TEST(SkyletClient, UploadRepliesAndTheirExceptions) {
    test::TempDir dir;
    const std::string file = writeRingtone(dir, "tune.amr", 100);
    ScriptedHttpServer scripted;
    struct Case {
        std::string reply;
        std::string outcome;
    } cases[] = {
        {"OK", "no exception"},
        {"OK and more", "no exception"},
        {"ok", std::string(kCannotNegotiate)},
        {"", std::string(kCannotNegotiate)},
        {"ERR EXPIRED", std::string(kAccountExpired)},
        {"ERR PWD", std::string(kWrongPassword)},
        {"ERR TYPE", "Bad file type. Cannot upload."},
        {"ERR REQUEST", "Error. Request cannot be processed."},
        {"ERR SIZE", "File is too big. Cannot upload."},
        {"ERR SOMETHING", std::string(kCannotNegotiate)},
    };
    for (const Case& c : cases) {
        scripted.reply("/upload.ashx", c.reply);
        EXPECT_EQ(failureOf([&] { SkyletClient(scripted.baseUrl(), "0001").upload(file); }),
                  c.outcome)
            << c.reply;
    }
    scripted.reply("/upload.ashx", "ERR EXPIRED");
    EXPECT_THROW(SkyletClient(scripted.baseUrl(), "0001").upload(file),
                 SkyletAccountExpiredException);
    scripted.reply("/upload.ashx", "ERR PWD");
    EXPECT_THROW(SkyletClient(scripted.baseUrl(), "0001").upload(file),
                 SkyletWrongPasswordException);
}

TEST(SkyletClient, UploadSendsTheMultipartBodyAndHeaders) {
    test::TempDir dir;
    const std::string file = writeRingtone(dir, "tune.mmf", 1000);
    const std::string bytes = test::ringtoneBytes("mmf", 1000);
    ScriptedHttpServer scripted;
    SkyletClient(scripted.baseUrl(), "0042", "a&b#c=d e").upload(file);
    SkyletClient(scripted.baseUrl(), "0042").upload(file);

    const auto requests = scripted.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.uri, "/upload.ashx?id=0042&pwd=a%26b%23c%3Dd%20e");
    EXPECT_EQ(requests[1].uri, "/upload.ashx?id=0042");
    EXPECT_EQ(request.headers.get("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
    EXPECT_EQ(request.headers.get("Referer"), scripted.baseUrl());
    EXPECT_EQ(request.headers.get("Pragma"), "no-cache");
    EXPECT_NE(request.headers.get("Accept").find("*/*"), std::string::npos);

    const std::string contentType = request.headers.get("Content-Type");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_EQ(contentType.rfind(prefix, 0), 0u) << contentType;
    const std::string boundary = contentType.substr(prefix.size());
    EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
    EXPECT_EQ(boundary.find_first_not_of("0123456789abcdef", 27), std::string::npos);
    EXPECT_EQ(request.headers.get("Content-Length"), std::to_string(request.body.size()));
    EXPECT_EQ(request.body, "--" + boundary +
                                "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                                file + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                                bytes + "\r\n--" + boundary + "--\r\n");
}

TEST(SkyletClient, SizeLimitIsCheckedBeforeAnyTraffic) {
    test::TempDir dir;
    ScriptedHttpServer scripted;
    const std::string tooBig = writeRingtone(dir, "big.amr", kMaxUploadBytes + 1);
    EXPECT_EQ(failureOf([&] { SkyletClient(scripted.baseUrl(), "0001").upload(tooBig); }),
              "Cannot upload file: file is too big (>2Mb).");
    EXPECT_TRUE(scripted.requests().empty());

    // Exactly 2 MiB passes, all the way to the phone's download.
    SkyletServer skylet;
    SkyletClient client(skylet.baseUrl(), SkyletClient(skylet.baseUrl()).createAccount());
    const std::string limit = writeRingtone(dir, "limit.amr", kMaxUploadBytes);
    client.upload(limit);
    EXPECT_EQ(httpGet(skylet.baseUrl(), "/get.ashx?id=0001&f=1"),
              test::ringtoneBytes("amr", kMaxUploadBytes));
}

TEST(SkyletClient, FileErrors) {
    test::TempDir dir;
    ScriptedHttpServer scripted;
    SkyletClient client(scripted.baseUrl(), "0001");
    EXPECT_EQ(failureOf([&] { client.upload(dir.file("gone.amr")); }),
              "Cannot open file: No such file or directory.");
    EXPECT_EQ(failureOf([&] { client.upload(dir.path().string()); }),
              "Cannot read file: Is a directory.");
    EXPECT_TRUE(scripted.requests().empty());
}

TEST(SkyletClient, UnreachableOrSilentServiceFailsWithinTheTimeout) {
    test::TempDir dir;
    const std::string file = writeRingtone(dir, "tune.amr", 100);
    test::SilentServer silent;
    const auto start = std::chrono::steady_clock::now();
    SkyletClient quiet(silent.baseUrl(), "0001");
    quiet.setTimeout(400ms);
    EXPECT_EQ(failureOf([&] { quiet.createAccount(); }), kCannotConnect);
    EXPECT_EQ(failureOf([&] { quiet.upload(file); }), kCannotConnect);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    // A port nobody listens on.
    std::string closed;
    {
        test::SilentServer gone;
        closed = gone.baseUrl();
    }
    EXPECT_EQ(failureOf([&] { SkyletClient(closed).createAccount(); }), kCannotConnect);
    EXPECT_EQ(failureOf([&] { SkyletClient(closed, "0001").upload(file); }),
              "Cannot send request.");
    EXPECT_EQ(failureOf([&] { SkyletClient("").createAccount(); }), kCannotConnect);
    EXPECT_EQ(failureOf([&] { SkyletClient("ftp://127.0.0.1/").createAccount(); }), kCannotConnect);
}

TEST(SkyletClient, PasswordsWipeAndExpiryAgainstSkyletd) {
    test::TempDir dir;
    const std::string file = writeRingtone(dir, "tune.amr", 100);
    SkyletServer skylet;
    const std::string id = SkyletClient(skylet.baseUrl()).createAccount();
    const std::string password = "a&b#c=d";

    SkyletClient(skylet.baseUrl(), id).setPassword(password);
    EXPECT_EQ(failureOf([&] { SkyletClient(skylet.baseUrl(), id, "wrong").setPassword("x"); }),
              kWrongOldPassword);
    EXPECT_EQ(failureOf([&] { SkyletClient(skylet.baseUrl(), id).upload(file); }), kWrongPassword);
    EXPECT_EQ(failureOf([&] { SkyletClient(skylet.baseUrl(), id, "a").upload(file); }),
              kWrongPassword);
    SkyletClient owner(skylet.baseUrl(), id, password);
    owner.upload(file);
    EXPECT_NE(httpGet(skylet.baseUrl(), "/?id=" + id + "&pwd=a%26b%23c%3Dd").find("tune.amr"),
              std::string::npos);
    EXPECT_EQ(failureOf([&] { SkyletClient(skylet.baseUrl(), id, "wrong").wipe(); }),
              kWrongPassword);
    owner.wipe();
    EXPECT_EQ(
        httpGet(skylet.baseUrl(), "/get.ashx?id=" + id + "&f=1&pwd=a%26b%23c%3Dd").find("#!AMR"),
        std::string::npos);
    // The server's log never shows the password.
    EXPECT_EQ(skylet.log().find("a%26b"), std::string::npos);

    skylet.ageAccount(id);
    EXPECT_EQ(failureOf([&] { owner.upload(file); }), kAccountExpired);
    EXPECT_EQ(failureOf([&] { owner.wipe(); }), kAccountExpired);
    EXPECT_EQ(failureOf([&] { owner.setPassword(""); }), kAccountExpired);
}

TEST(SkyletClient, RelayRecordParsing) {
    struct Case {
        std::string reply;
        std::optional<std::string> host;
    } cases[] = {
        {"mail.example\nu\np\n", "mail.example"},
        {"mail.example:2525\r\nu\r\np", "mail.example:2525"},
        {"\n\nmail.example\n\nu\np\nextra\n", "mail.example"},
        {"mail.example:0\nu\np\n", std::nullopt},
        {"mail.example:99999\nu\np\n", std::nullopt},
        {"mail.example:x\nu\np\n", std::nullopt},
        {"mail example\nu\np\n", std::nullopt},
        {"ERR REQUEST\nu\np\n", std::nullopt},
        {"only\ntwo\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto relay = parseRelayRecord(c.reply);
        ASSERT_EQ(relay.has_value(), c.host.has_value()) << c.reply;
        if (relay) {
            EXPECT_EQ(relay->host, *c.host);
        }
    }
    EXPECT_EQ(splitHostPort("h:2525"), std::make_pair(std::string("h"), std::uint16_t(2525)));
    EXPECT_EQ(splitHostPort("h"), std::make_pair(std::string("h"), std::uint16_t(25)));
    EXPECT_EQ(splitHostPort("::1"), std::make_pair(std::string("::1"), std::uint16_t(25)));
}

TEST(SkyletClient, PercentEncoding) {
    EXPECT_EQ(encodeQueryValue("0007"), "0007");
    EXPECT_EQ(encodeQueryValue("a&b#c"), "a%26b%23c");
    EXPECT_EQ(encodeQueryValue("x y+z/\xC3\xA9"), "x%20y%2Bz%2F%C3%A9");
}

}  // namespace
}  // namespace tolvane::delivery
