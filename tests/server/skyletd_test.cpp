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

#include <chrono>
#include <thread>

#include <fstream>
#include <regex>
#include <sstream>

#include "delivery/local_servers.h"
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

    // Everything landed inside the data folder, under names the service made.
    const auto stored = filesUnder(server.dataDir().parent_path());
    for (const fs::path& path : stored)
        EXPECT_TRUE(path.string().rfind("data/", 0) == 0 || path == "log") << path;
    const auto account1 = filesUnder(server.dataDir() / "accounts/0001/files");
    EXPECT_EQ(account1,
              (std::vector<fs::path>{"1.amr", "1.name", "2.amr", "2.name", "3.amr", "3.name"}));
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
    EXPECT_EQ(file.disposition, "attachment; filename=\"song.mmf\"");
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
    std::ifstream reports(server.dataDir() / "phone-reports.txt");
    std::string line;
    std::getline(reports, line);
    EXPECT_EQ(line, "Orvel\tX1b");

    // One log line per request, passwords hidden.
    const std::string log = server.log();
    EXPECT_NE(log.find("GET /passwd.ashx?id=1&old=***&new=*** 200 OK"), std::string::npos);
    EXPECT_EQ(log.find("old=1"), std::string::npos);
    const auto requests = std::count(log.begin(), log.end(), '\n') - 1;  // minus the start line
    EXPECT_EQ(requests, 2 + std::size(cases) + 3 + 1);
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

}  // namespace
}  // namespace tolvane
