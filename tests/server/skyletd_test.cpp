// skyletd as clients and phones meet it: raw HTTP requests, including malformed and hostile
// ones, against the real program.
#include <gtest/gtest.h>

#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/SAX/InputSource.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include <fstream>
#include <regex>
#include <sstream>

#include "delivery/local_servers.h"
#include "server/postgres_server.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using test::SkyletServer;
namespace fs = std::filesystem;

struct Reply {
    int status = 0;
    std::string type;
    std::string body;
    std::string disposition;
};

Reply request(const SkyletServer& server, const std::string& method, const std::string& path,
              const std::string& contentType = {}, const std::string& body = {},
              const std::string& accept = {}) {
    Poco::URI base(server.baseUrl());
    Poco::Net::HTTPClientSession session(base.getHost(), base.getPort());
    Poco::Net::HTTPRequest httpRequest(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
    if (!contentType.empty()) {
        httpRequest.setContentType(contentType);
        httpRequest.setContentLength(std::streamsize(body.size()));
    }
    if (!accept.empty())
        httpRequest.set("Accept", accept);
    Reply reply;
    try {
        session.sendRequest(httpRequest).write(body.data(), std::streamsize(body.size()));
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        reply.status = response.getStatus();
        reply.type = response.getContentType();
        reply.disposition = response.get("Content-Disposition", "");
        Poco::StreamCopier::copyToString(in, reply.body);
    } catch (const Poco::Exception& error) {
        reply.body = "connection: " + error.displayText();
    }
    return reply;
}

const std::string kBoundary = "-----------------------------7e71a2b3c4";

std::string formBody(const std::string& fileName, const std::string& bytes,
                     const std::string& field = "file") {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + field +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           bytes + "\r\n--" + kBoundary + "--\r\n";
}

std::string upload(const SkyletServer& server, const std::string& query,
                   const std::string& fileName, const std::string& bytes) {
    return request(server, "POST", "/upload.ashx" + query,
                   "multipart/form-data; boundary=" + kBoundary, formBody(fileName, bytes))
        .body;
}

std::vector<fs::path> filesUnder(const fs::path& root) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            found.push_back(fs::relative(entry.path(), root));
    std::sort(found.begin(), found.end());
    return found;
}

bool wellFormedXml(const std::string& text) {
    try {
        Poco::XML::DOMParser parser;
        parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
        std::istringstream in(text);
        Poco::XML::InputSource source(in);
        parser.parse(&source);
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

TEST(Skyletd, UploadRules) {
    SkyletServer server;
    ASSERT_EQ(request(server, "GET", "/reg.ashx").body, "1");
    ASSERT_EQ(request(server, "GET", "/reg.ashx").body, "2");
    ASSERT_EQ(request(server, "GET", "/passwd.ashx?id=2&new=s%26cret").body, "OK");
    const std::string amr = test::ringtoneBytes("amr", 500);
    const std::string big(2 * 1024 * 1024 + 1, 'x');

    struct Case {
        std::string query, fileName, bytes, reply;
    } cases[] = {
        {"?id=0001", "/home/me/My Ringtones/tune.amr", amr, "OK"},
        {"?id=1", "../../../../evil.amr", amr, "OK"},
        {"?id=1", "C:\\Docs\\..\\..\\evil2.AMR", amr, "OK"},
        {"?id=1", "notes.txt", "hello", "ERR TYPE"},
        {"?id=1", "fake.amr", "RIFF not an AMR file", "ERR TYPE"},
        {"?id=1", "noextension", amr, "ERR TYPE"},
        {"?id=1", "big.amr", "#!AMR\n" + big, "ERR SIZE"},
        {"?id=9999", "tune.amr", amr, "ERR REQUEST"},
        {"?id=abc", "tune.amr", amr, "ERR REQUEST"},
        {"", "tune.amr", amr, "ERR REQUEST"},
        {"?id=2", "tune.amr", amr, "ERR PWD"},
        {"?id=2&pwd=wrong", "tune.amr", amr, "ERR PWD"},
        {"?id=2&pwd=s%26cret", "tune.amr", amr, "OK"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(upload(server, c.query, c.fileName, c.bytes), c.reply) << c.fileName << c.query;

    // Malformed requests.
    const std::string form = "multipart/form-data; boundary=" + kBoundary;
    EXPECT_EQ(request(server, "POST", "/upload.ashx?id=1", form, "garbage").body, "ERR REQUEST");
    EXPECT_EQ(
        request(server, "POST", "/upload.ashx?id=1", "text/plain", formBody("a.amr", amr)).body,
        "ERR REQUEST");
    EXPECT_EQ(
        request(server, "POST", "/upload.ashx?id=1", form, formBody("a.amr", amr, "other")).body,
        "ERR REQUEST");
    EXPECT_EQ(request(server, "GET", "/upload.ashx?id=1").body, "ERR REQUEST");
    const std::string oversize(3 * 1024 * 1024, 'y');
    EXPECT_EQ(request(server, "POST", "/upload.ashx?id=1", form, oversize).body, "ERR SIZE");

    // Nothing was written outside the data folder; the names were kept only as names.
    const auto stored = filesUnder(server.dataDir().parent_path());
    for (const fs::path& path : stored)
        EXPECT_TRUE(path.string().rfind("data/", 0) == 0 || path == "log" ||
                    path == "relay-password")
            << path;
    std::vector<std::string> names;
    for (const auto& upload : server.uploads("0001"))
        names.push_back(upload.name);
    EXPECT_EQ(names, (std::vector<std::string>{"evil.amr", "evil2.AMR", "tune.amr"}));
    const Reply page = request(server, "GET", "/?id=0001");
    EXPECT_NE(page.body.find(">tune.amr<"), std::string::npos);
    EXPECT_NE(page.body.find(">evil.amr<"), std::string::npos);
    EXPECT_NE(page.body.find(">evil2.AMR<"), std::string::npos);
}

TEST(Skyletd, PickUpPages) {
    SkyletServer server;
    request(server, "GET", "/reg.ashx");
    const std::string amr = test::ringtoneBytes("amr", 300);
    const std::string mmf = test::ringtoneBytes("mmf", 200);
    ASSERT_EQ(upload(server, "?id=1", "/x/a <b> & \"c\".amr", amr), "OK");
    ASSERT_EQ(upload(server, "?id=1", "/x/song.mmf", mmf), "OK");

    const Reply list = request(server, "GET", "/?id=0001");
    EXPECT_EQ(list.status, 200);
    EXPECT_EQ(list.type, "application/xhtml+xml; charset=utf-8");
    EXPECT_NE(list.body.find("-//WAPFORUM//DTD XHTML Mobile 1.0//EN"), std::string::npos);
    EXPECT_EQ(request(server, "GET", "/?id=0001", {}, {},
                      "application/vnd.wap.xhtml+xml, application/xhtml+xml, text/html;q=0.1")
                  .type,
              "application/vnd.wap.xhtml+xml; charset=utf-8");
    EXPECT_TRUE(wellFormedXml(list.body)) << list.body;
    EXPECT_NE(list.body.find("href=\"get.ashx?id=0001&amp;f=1\" type=\"audio/amr\""),
              std::string::npos);
    EXPECT_NE(list.body.find("href=\"get.ashx?id=0001&amp;f=2\" type=\"application/vnd.smaf\""),
              std::string::npos);

    const Reply file = request(server, "GET", "/get.ashx?id=0001&f=2");
    EXPECT_EQ(file.type, "application/vnd.smaf");
    EXPECT_EQ(file.disposition, "attachment; filename=\"song.mmf\"; filename*=UTF-8''song.mmf");
    EXPECT_TRUE(file.body == mmf);
    EXPECT_EQ(request(server, "GET", "/get.ashx?id=0001&f=9").status, 404);

    // A protected account asks for the password first.
    request(server, "GET", "/passwd.ashx?id=1&new=42");
    const Reply asked = request(server, "GET", "/?id=1");
    EXPECT_NE(asked.body.find("name=\"pwd\""), std::string::npos);
    EXPECT_EQ(asked.body.find("get.ashx"), std::string::npos);
    EXPECT_EQ(request(server, "GET", "/get.ashx?id=0001&f=2").status, 404);
    const Reply opened = request(server, "GET", "/?id=1&pwd=42");
    EXPECT_NE(opened.body.find("get.ashx?id=0001&amp;f=2&amp;pwd=42"), std::string::npos);

    for (const std::string path : {"/", "/?contacts", "/?id=9999", "/?id=x1", "/?id=1&pwd=0"}) {
        const Reply reply = request(server, "GET", path);
        EXPECT_EQ(reply.status, 200) << path;
        EXPECT_TRUE(wellFormedXml(reply.body)) << path << reply.body;
    }
    EXPECT_NE(request(server, "GET", "/").body.find("href=\"./?contacts\""), std::string::npos);
    EXPECT_NE(request(server, "GET", "/?contacts").body.find("Contact us"), std::string::npos);
    EXPECT_NE(request(server, "GET", "/?id=9999").body.find("Unknown personal code."),
              std::string::npos);
    EXPECT_EQ(request(server, "GET", "/nothing/here").status, 404);
}

// A file name that is not UTF-8 is shown with replacement characters; the page stays XML a
// real parser (xmllint) reads.
TEST(Skyletd, NamesThatAreNotUtf8) {
    SkyletServer server;
    request(server, "GET", "/reg.ashx");
    const std::string wav = test::ringtoneBytes("wav", 300);
    ASSERT_EQ(upload(server, "?id=1", "bad\xff\xfeutf8.wav", wav), "OK");
    ASSERT_EQ(upload(server, "?id=1", "cut\xe2\x82.wav", wav), "OK");      // truncated sequence
    ASSERT_EQ(upload(server, "?id=1", "sur\xed\xa0\x80.wav", wav), "OK");  // a surrogate
    ASSERT_EQ(upload(server, "?id=1", "long\xc0\xaf.wav", wav), "OK");     // overlong "/"
    ASSERT_EQ(upload(server, "?id=1", "caf\xc3\xa9 \xf0\x9f\x8e\xb5.wav", wav), "OK");

    const Reply page = request(server, "GET", "/?id=0001");
    test::TempDir folder;
    std::ofstream(folder.file("page.xhtml"), std::ios::binary) << page.body;
    const auto lint = test::run({"xmllint", "--noout", "--nonet", folder.file("page.xhtml")});
    EXPECT_EQ(lint.status, 0) << lint.output << page.body;
    for (const std::string shown :
         {"bad\uFFFD\uFFFDutf8.wav", "cut\uFFFD\uFFFD.wav", "sur\uFFFD\uFFFD\uFFFD.wav",
          "long\uFFFD\uFFFD.wav", "caf\u00e9 \U0001F3B5.wav"})
        EXPECT_NE(page.body.find(">" + shown + "<"), std::string::npos) << shown;
    EXPECT_EQ(request(server, "GET", "/get.ashx?id=0001&f=1").body, wav);
}

// Raw sockets that trickle a request one byte at a time.
std::vector<std::unique_ptr<Poco::Net::StreamSocket>> openSlowClients(const SkyletServer& server,
                                                                      int count) {
    const Poco::URI base(server.baseUrl());
    std::vector<std::unique_ptr<Poco::Net::StreamSocket>> clients;
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<Poco::Net::StreamSocket>(
            Poco::Net::SocketAddress(base.getHost(), base.getPort()));
        socket->sendBytes("G", 1);
        clients.push_back(std::move(socket));
    }
    return clients;
}

// Whether the server closed the connection within `limit` (the read ends without a reply).
bool closedWithin(Poco::Net::StreamSocket& socket, std::chrono::milliseconds limit) {
    socket.setReceiveTimeout(Poco::Timespan(std::chrono::microseconds(limit).count()));
    char buffer[512];
    try {
        return socket.receiveBytes(buffer, sizeof buffer) == 0;
    } catch (const Poco::Exception&) {
        return false;  // timed out: still open
    }
}

// 200 connections that send a byte every 5 s cannot keep a normal request from its answer.
TEST(Skyletd, SlowClientsDoNotHoldTheService) {
    SkyletServer server;
    auto slow = openSlowClients(server, 200);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(request(server, "GET", "/reg.ashx").body, std::to_string(i + 1));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5))
            for (auto& socket : slow)
                socket->sendBytes("E", 1);
    }
    // The oldest trickling connections made room for the newer ones and were closed.
    EXPECT_TRUE(closedWithin(*slow.front(), std::chrono::seconds(1)));
}

TEST(Skyletd, RequestTimeAndCapacityLimits) {
    // A request head that takes longer than the request timeout is cut off.
    {
        SkyletServer server({.extraArguments = {"--request-timeout", "1"}});
        auto slow = openSlowClients(server, 1);
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slow[0]->sendBytes("E", 1);
        }
        EXPECT_TRUE(closedWithin(*slow[0], std::chrono::seconds(3)));
    }
    // Beyond capacity a client is told to come back, never left with a closed connection.
    SkyletServer server({.extraArguments = {"--max-connections", "3", "--max-per-address", "100"}});
    auto held = openSlowClients(server, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Poco::URI base(server.baseUrl());
    Poco::Net::HTTPClientSession session(base.getHost(), base.getPort());
    Poco::Net::HTTPRequest busy("GET", "/reg.ashx", Poco::Net::HTTPMessage::HTTP_1_1);
    session.sendRequest(busy);
    Poco::Net::HTTPResponse response;
    std::string body;
    Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
    EXPECT_EQ(response.getStatus(), 503);
    EXPECT_EQ(response.get("Retry-After", ""), "5");
    held.clear();  // the clients go; the service takes requests again
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(request(server, "GET", "/reg.ashx").body, "1");
}

TEST(Skyletd, AccountRequestsAndReports) {
    SkyletServer server({.relay = "mail.example:2525", .relayUser = "u", .relayPassword = "p"});
    EXPECT_EQ(request(server, "GET", "/getrel.ashx").body, "mail.example:2525\nu\np\n");
    EXPECT_EQ(request(server, "GET", "/reg.ashx").body, "1");
    struct Case {
        std::string path, reply;
    } cases[] = {
        {"/passwd.ashx?id=1&old=x&new=1", "ERR PWD"},
        {"/passwd.ashx?id=1&new=1", "OK"},
        {"/passwd.ashx?id=1&new=2", "ERR PWD"},
        {"/passwd.ashx?id=1&old=1&new=2", "OK"},
        {"/wipe.ashx?id=1", "ERR PWD"},
        {"/wipe.ashx?id=1&pwd=2", "OK"},
        {"/wipe.ashx?id=77", "ERR REQUEST"},
        {"/wipe.ashx", "ERR REQUEST"},
        {"/passwd.ashx?id=%ZZ", "ERR REQUEST"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(request(server, "GET", c.path).body, c.reply) << c.path;

    server.ageAccount("0001");
    EXPECT_EQ(request(server, "GET", "/wipe.ashx?id=1&pwd=2").body, "ERR EXPIRED");
    EXPECT_EQ(upload(server, "?id=1&pwd=2", "a.amr", test::ringtoneBytes("amr", 10)),
              "ERR EXPIRED");
    EXPECT_NE(request(server, "GET", "/?id=1").body.find("expired"), std::string::npos);

    EXPECT_EQ(request(server, "GET", "/phone_notify.php?vendor=Orvel&model=X%0A1%09b").body, "OK");
    EXPECT_NE(request(server, "GET", "/healthz").body.find("OK"), std::string::npos);

    // One log line per request, passwords hidden.
    const std::string log = server.log();
    EXPECT_NE(log.find("GET /passwd.ashx?id=1&old=***&new=*** 200 OK"), std::string::npos);
    EXPECT_EQ(log.find("old=1"), std::string::npos);
    const auto requests = std::count(log.begin(), log.end(), '\n') - 1;  // minus the start line
    EXPECT_EQ(requests, 2 + std::size(cases) + 3 + 1 + 1);               // ... the report, /healthz
}

TEST(Skyletd, CommandLine) {
    const std::string skyletd = (test::binDir() / "skyletd").string();
    EXPECT_EQ(test::run({skyletd, "--bogus"}).status, 2);
    EXPECT_EQ(test::run({skyletd, "--relay", "h"}).status, 2);
    EXPECT_EQ(test::run({skyletd, "--expire-days", "x"}).status, 2);
    EXPECT_EQ(test::run({skyletd, "--listen", "not-an-address"}).status, 1);
    const auto help = test::run({skyletd, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--listen ADDR:PORT"), std::string::npos);
}

// Raw bytes of a request sent in two halves, for servers that stop or die in between.
std::string uploadRequest(const std::string& query, const std::string& fileName,
                          const std::string& bytes) {
    const std::string body = formBody(fileName, bytes);
    return "POST /upload.ashx" + query +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" +
           kBoundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

Poco::Net::StreamSocket connectTo(const SkyletServer& server) {
    const Poco::URI base(server.baseUrl());
    return Poco::Net::StreamSocket(Poco::Net::SocketAddress(base.getHost(), base.getPort()));
}

std::string readAll(Poco::Net::StreamSocket& socket) {
    socket.setReceiveTimeout(Poco::Timespan(10, 0));
    std::string text;
    char buffer[4096];
    try {
        for (int got; (got = socket.receiveBytes(buffer, sizeof buffer)) > 0;)
            text.append(buffer, std::size_t(got));
    } catch (const Poco::Exception&) {
    }
    return text;
}

int xmllintStatus(const std::string& document, bool html) {
    test::TempDir folder;
    std::ofstream(folder.file("page"), std::ios::binary) << document;
    std::vector<std::string> argv = {"xmllint", "--noout", "--nonet"};
    if (html)
        argv.push_back("--html");
    argv.push_back(folder.file("page"));
    const auto result = test::run(argv);
    return result.status != 0 || !result.errors.empty() ? 1 : 0;
}

// Today's phone browsers get HTML5 with a download button per ringtone; WAP browsers keep
// XHTML-MP; both are well-formed.
TEST(Skyletd, PagesForEveryBrowser) {
    SkyletServer server;
    request(server, "GET", "/reg.ashx");
    ASSERT_EQ(upload(server, "?id=1", "Caf\xc3\xa9 <1>.amr", test::ringtoneBytes("amr", 2100)),
              "OK");
    struct Case {
        std::string accept, type;
    } cases[] = {
        {"text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,*/*;q=0.8",
         "text/html; charset=utf-8"},
        {"application/vnd.wap.xhtml+xml, application/xhtml+xml, text/html;q=0.1",
         "application/vnd.wap.xhtml+xml; charset=utf-8"},
        {"", "application/xhtml+xml; charset=utf-8"},
    };
    for (const Case& c : cases) {
        for (const std::string path : {"/?id=0001", "/", "/?contacts", "/?id=77"}) {
            const Reply page = request(server, "GET", path, {}, {}, c.accept);
            EXPECT_EQ(page.type, c.type) << c.accept;
            EXPECT_EQ(xmllintStatus(page.body, false), 0) << page.body;
        }
    }
    const Reply html = request(server, "GET", "/?id=0001", {}, {}, cases[0].accept);
    EXPECT_EQ(html.body.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(xmllintStatus(html.body, true), 0);
    EXPECT_NE(html.body.find("<span class=\"name\">Caf\xc3\xa9 &lt;1&gt;.amr</span> "
                             "<span class=\"size\">(3 KB)</span>"),
              std::string::npos)
        << html.body;
    EXPECT_NE(html.body.find("<a class=\"download\" href=\"get.ashx?id=0001&amp;f=1\" "
                             "type=\"audio/amr\""),
              std::string::npos);
}

// Downloads name the file, give their length and serve byte ranges (players and resumed
// downloads ask for them).
TEST(Skyletd, DownloadsWithRanges) {
    SkyletServer server;
    request(server, "GET", "/reg.ashx");
    const std::string bytes = test::ringtoneBytes("mp3", 5000);
    ASSERT_EQ(upload(server, "?id=1", "Caf\xc3\xa9.mp3", bytes), "OK");
    Poco::URI base(server.baseUrl());
    struct Case {
        std::string range;
        int status;
        std::string contentRange, body;
    } cases[] = {
        {"", 200, "", bytes},
        {"bytes=10-19", 206, "bytes 10-19/5000", bytes.substr(10, 10)},
        {"bytes=4990-", 206, "bytes 4990-4999/5000", bytes.substr(4990)},
        {"bytes=-5", 206, "bytes 4995-4999/5000", bytes.substr(4995)},
        {"bytes=4000-99999", 206, "bytes 4000-4999/5000", bytes.substr(4000)},
        {"bytes=5000-", 416, "bytes */5000", ""},
        {"bytes=0-1,5-6", 200, "", bytes},
        {"pages=1-2", 200, "", bytes},
    };
    for (const Case& c : cases) {
        Poco::Net::HTTPClientSession session(base.getHost(), base.getPort());
        Poco::Net::HTTPRequest get("GET", "/get.ashx?id=0001&f=1",
                                   Poco::Net::HTTPMessage::HTTP_1_1);
        if (!c.range.empty())
            get.set("Range", c.range);
        session.sendRequest(get);
        Poco::Net::HTTPResponse response;
        std::string body;
        Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
        EXPECT_EQ(response.getStatus(), c.status) << c.range;
        EXPECT_EQ(response.get("Content-Range", ""), c.contentRange) << c.range;
        EXPECT_EQ(response.getContentLength64(), std::streamsize(c.body.size())) << c.range;
        EXPECT_TRUE(body == c.body) << c.range;
        if (c.status != 416) {
            EXPECT_EQ(response.getContentType(), "audio/mpeg");
            EXPECT_EQ(response.get("Content-Disposition", ""),
                      "attachment; filename=\"Caf__.mp3\"; filename*=UTF-8''Caf%C3%A9.mp3");
        }
    }
}

// The QR code of an account's pick-up page, decoded by zbarimg.
TEST(Skyletd, QrCodeOfThePickUpPage) {
    if (!test::haveTool("zbarimg"))
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    SkyletServer server;
    request(server, "GET", "/reg.ashx");
    const Reply png = request(server, "GET", "/qr.png?id=0001");
    EXPECT_EQ(png.status, 200);
    EXPECT_EQ(png.type, "image/png");
    test::TempDir folder;
    std::ofstream(folder.file("qr.png"), std::ios::binary) << png.body;
    const auto decoded = test::run({"zbarimg", "--raw", "-q", folder.file("qr.png")});
    EXPECT_EQ(decoded.output, server.baseUrl() + "?id=0001\n");
    EXPECT_EQ(request(server, "GET", "/qr.png?id=x").status, 404);
}

// New accounts get random numbers; passwords are stored hashed, logged masked under any
// spelling, and guessing them is throttled.
TEST(Skyletd, AccountNumbersAndPasswordsResistGuessing) {
    SkyletServer server({.sequentialAccounts = false});
    std::set<std::string> numbers;
    for (int i = 0; i < 5; ++i) {
        const std::string number = request(server, "GET", "/reg.ashx").body;
        EXPECT_EQ(number.size(), 9u) << number;
        numbers.insert(number);
    }
    EXPECT_EQ(numbers.size(), 5u);
    const std::string id = *numbers.begin();
    EXPECT_EQ(request(server, "GET", "/passwd.ashx?id=" + id + "&n%65w=4711").body, "OK");
    EXPECT_EQ(request(server, "GET", "/wipe.ashx?id=" + id + "&p%77d=4711").body, "OK");
    EXPECT_EQ(request(server, "GET", "/wipe.ashx?id=" + id + "&pwd=%1b%5b2J%0aforged").body,
              "ERR PWD");
    const std::string log = server.log();
    EXPECT_EQ(log.find("4711"), std::string::npos) << log;
    EXPECT_NE(log.find("p%77d=***"), std::string::npos) << log;
    EXPECT_EQ(log.find("\x1b"), std::string::npos);
    EXPECT_EQ(log.find("\nforged"), std::string::npos);
    std::ifstream database(server.database(), std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(database)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(stored.find("4711"), std::string::npos);

    // After ten wrong guesses even the right password is refused for a while.
    for (int guess = 0; guess < 10; ++guess)
        EXPECT_EQ(
            request(server, "GET", "/wipe.ashx?id=" + id + "&pwd=" + std::to_string(guess)).body,
            "ERR PWD");
    EXPECT_EQ(request(server, "GET", "/wipe.ashx?id=" + id + "&pwd=4711").body, "ERR PWD");
}

// Operations: several addresses, /healthz, a relay password from the environment, and
// SIGTERM letting an upload in flight finish.
TEST(Skyletd, ServesSeveralAddressesAndDrainsOnSigterm) {
    setenv("SKYLET_RELAY_PASSWORD", "from-environment", 1);
    SkyletServer server({.extraArguments = {"--listen", "127.0.0.1:0", "--relay", "relay:25",
                                            "--relay-user", "u"}});
    unsetenv("SKYLET_RELAY_PASSWORD");
    EXPECT_EQ(request(server, "GET", "/getrel.ashx").body, "relay:25\nu\nfrom-environment\n");
    std::smatch match;
    const std::string log = server.log();
    const std::regex second(
        R"(listening on http://[0-9.:]+/[^\n]*\n[^\n]*listening on (http://[0-9.]+:[0-9]+/))");
    ASSERT_TRUE(std::regex_search(log, match, second)) << log;
    EXPECT_EQ(test::httpGet(std::string(match[1]) + "healthz"), "OK");
    EXPECT_EQ(request(server, "GET", "/healthz").body, "OK");

    request(server, "GET", "/reg.ashx");
    const std::string whole =
        uploadRequest("?id=1", "late.amr", test::ringtoneBytes("amr", 200000));
    auto socket = connectTo(server);
    socket.sendBytes(whole.data(), int(whole.size() / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(server.pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    socket.sendBytes(whole.data() + whole.size() / 2, int(whole.size() - whole.size() / 2));
    const std::string reply = readAll(socket);
    EXPECT_NE(reply.find("\r\n\r\nOK"), std::string::npos) << reply;
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.uploads("0001").size(), 1u);
}

// A service killed in the middle of an upload lists and serves no half file after a restart.
TEST(Skyletd, KilledDuringAnUpload) {
    test::TempDir data;
    std::string whole;
    {
        SkyletServer server({.data = data.path()});
        request(server, "GET", "/reg.ashx");
        ASSERT_EQ(upload(server, "?id=1", "first.amr", test::ringtoneBytes("amr", 1000)), "OK");
        whole = uploadRequest("?id=1", "half.amr", test::ringtoneBytes("amr", 1500000));
        auto socket = connectTo(server);
        socket.sendBytes(whole.data(), int(whole.size() / 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server.kill();
    }
    SkyletServer restarted({.data = data.path()});
    const Reply page = request(restarted, "GET", "/?id=0001");
    EXPECT_NE(page.body.find(">first.amr<"), std::string::npos);
    EXPECT_EQ(page.body.find("half.amr"), std::string::npos);
    EXPECT_EQ(request(restarted, "GET", "/get.ashx?id=0001&f=2").status, 404);
    EXPECT_EQ(upload(restarted, "?id=1", "again.amr", test::ringtoneBytes("amr", 100)), "OK");
    EXPECT_EQ(restarted.uploads("0001").size(), 2u);
}

// A data folder of the older layout: its accounts, passwords and files work after the upgrade.
TEST(Skyletd, UpgradesAnOlderDataFolder) {
    test::TempDir data;
    const fs::path account = data.path() / "accounts/0007";
    fs::create_directories(account / "files");
    std::ofstream(account / "account") << "created " << std::time(nullptr) << "\npassword 3432\n";
    const std::string amr = test::ringtoneBytes("amr", 777);
    std::ofstream(account / "files/1.amr", std::ios::binary) << amr;
    std::ofstream(account / "files/1.name") << "Old Song.amr";
    std::ofstream(data.path() / "next-id") << "7\n";

    SkyletServer server({.data = data.path()});
    EXPECT_NE(server.log().find("imported 1 accounts"), std::string::npos) << server.log();
    EXPECT_NE(request(server, "GET", "/?id=0007").body.find("name=\"pwd\""), std::string::npos);
    EXPECT_NE(request(server, "GET", "/?id=0007&pwd=42").body.find(">Old Song.amr<"),
              std::string::npos);
    EXPECT_TRUE(request(server, "GET", "/get.ashx?id=0007&f=1&pwd=42").body == amr);
    EXPECT_NE(request(server, "GET", "/reg.ashx").body, "7");  // never an imported number
}

// Two instances on one PostgreSQL database: uploads spread over both are listed by both and
// fetched back byte-exact; concurrent registrations never share a number.
TEST(Skyletd, TwoInstancesShareOnePostgresDatabase) {
    auto& postgres = test::sharedPostgres();
    if (!postgres.unavailable().empty())
        GTEST_SKIP() << "no PostgreSQL server: " << postgres.unavailable();
    const std::string database = postgres.createDatabase("two_instances");
    SkyletServer first({.sequentialAccounts = false, .extraArguments = {"--database", database}});
    SkyletServer second({.sequentialAccounts = false, .extraArguments = {"--database", database}});
    const SkyletServer* servers[] = {&first, &second};

    std::vector<std::string> accounts(40);
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&, t] {
            for (int i = t; i < 40; i += 8)
                accounts[std::size_t(i)] = request(*servers[i % 2], "GET", "/reg.ashx").body;
        });
    for (auto& worker : workers)
        worker.join();
    workers.clear();
    EXPECT_EQ(std::set<std::string>(accounts.begin(), accounts.end()).size(), 40u);

    const std::string id = accounts[0];
    auto ringtone = [](int n) {
        return test::ringtoneBytes("amr", 2000 + std::size_t(n) * 37) + std::to_string(n);
    };
    std::atomic<int> stored{0};
    for (int t = 0; t < 16; ++t)
        workers.emplace_back([&, t] {
            for (int n = t; n < 200; n += 16)
                stored += upload(*servers[n % 2], "?id=" + id, "tone" + std::to_string(n) + ".amr",
                                 ringtone(n)) == "OK";
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(stored, 200);

    for (const SkyletServer* server : servers) {
        const std::string page = request(*server, "GET", "/?id=" + id).body;
        std::map<std::string, int> numberOf;
        const std::regex item("f=([0-9]+)\"[^>]*>(tone[0-9]+)\\.amr<");
        for (std::sregex_iterator it(page.begin(), page.end(), item), end; it != end; ++it)
            numberOf[(*it)[2]] = std::stoi((*it)[1]);
        ASSERT_EQ(numberOf.size(), 200u);
        for (int n : {0, 1, 99, 150, 199}) {
            const std::string path =
                "/get.ashx?id=" + id + "&f=" + std::to_string(numberOf["tone" + std::to_string(n)]);
            EXPECT_TRUE(request(*server, "GET", path).body == ringtone(n)) << n;
        }
    }
}

}  // namespace
}  // namespace tolvane
