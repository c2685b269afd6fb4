// The unlisted-phone report against a real HTTP server started by the test on 127.0.0.1.
#include "catalogue/phone_report.h"

#include "platform/paths.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <vector>

using namespace tolvane::catalogue;
using namespace std::chrono_literals;

namespace {

// A local web server that records the requests it gets and answers every one alike.
class ReportServer {
public:
    ReportServer() : socket_(Poco::Net::SocketAddress("127.0.0.1", 0)) {
        auto* params = new Poco::Net::HTTPServerParams;
        params->setMaxThreads(2);
        server_ = std::make_unique<Poco::Net::HTTPServer>(new Factory(*this), socket_, params);
        server_->start();
    }
    ~ReportServer() { server_->stopAll(true); }

    std::string homeUrl() const {
        return "http://127.0.0.1:" + std::to_string(socket_.address().port()) + "/";
    }
    void answer(int status, std::string body, std::string location = {}) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
        location_ = std::move(location);
    }
    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    class Handler : public Poco::Net::HTTPRequestHandler {
    public:
        explicit Handler(ReportServer& server) : server_(server) {}
        void handleRequest(Poco::Net::HTTPServerRequest& request,
                           Poco::Net::HTTPServerResponse& response) override {
            std::lock_guard lock(server_.mutex_);
            server_.requests_.push_back(request.getMethod() + " " + request.getURI());
            if (request.getURI().starts_with("/moved")) {
                response.setStatus(Poco::Net::HTTPResponse::HTTP_FOUND);
                response.set("Location", "/phone_notify.php?vendor=Moved&model=1");
                response.send();
                return;
            }
            response.setStatus(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(server_.status_));
            if (!server_.location_.empty())
                response.set("Location", server_.location_);
            response.setContentLength(static_cast<std::streamsize>(server_.body_.size()));
            response.send() << server_.body_;
        }

    private:
        ReportServer& server_;
    };
    class Factory : public Poco::Net::HTTPRequestHandlerFactory {
    public:
        explicit Factory(ReportServer& server) : server_(server) {}
        Poco::Net::HTTPRequestHandler* createRequestHandler(
            const Poco::Net::HTTPServerRequest&) override {
            return new Handler(server_);
        }

    private:
        ReportServer& server_;
    };

    Poco::Net::ServerSocket socket_;
    std::unique_ptr<Poco::Net::HTTPServer> server_;
    mutable std::mutex mutex_;
    int status_ = 200;
    std::string body_ = "OK";
    std::string location_;
    std::vector<std::string> requests_;
};

// The query parameters of a request line "GET /path?query", decoded.
Poco::URI::QueryParameters parametersOf(const std::string& requestLine) {
    return Poco::URI(requestLine.substr(requestLine.find(' ') + 1)).getQueryParameters();
}

}  // namespace

TEST(PhoneReportAddress, BuiltFromTheMakersHost) {
    struct Case {
        const char* home;
        const char* vendor;
        const char* model;
        std::optional<std::string> url;
    };
    const Case cases[] = {
        {"http://www.quorrel.example/products/tolvane.html", "Nokia", "6600",
         "http://www.quorrel.example/phone_notify.php?vendor=Nokia&model=6600"},
        {"http://127.0.0.1:8099/", "Sony Ericsson", "W810i & more",
         "http://127.0.0.1:8099/phone_notify.php?vendor=Sony%20Ericsson&model=W810i%20%26%20more"},
        {"https://www.quorrel.example/", "", "",
         "http://www.quorrel.example/phone_notify.php?vendor=&model="},
        {"http://[::1]:81/", "a=b", "c#d?e",
         "http://[::1]:81/phone_notify.php?vendor=a%3Db&model=c%23d%3Fe"},
        {"http://h.example/", "Nöki", "x/y+z",
         "http://h.example/phone_notify.php?vendor=N%C3%B6ki&model=x%2Fy%2Bz"},
        {"", "Nokia", "6600", std::nullopt},
        {"www.quorrel.example", "Nokia", "6600", std::nullopt},  // no scheme: no host
        {"http://", "Nokia", "6600", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(phoneReportUrl(c.home, c.vendor, c.model), c.url) << c.home;
    }
    // Fields are cut to what the dialog holds.
    const std::string url = *phoneReportUrl("http://h.example/", std::string(2000, 'v'), "m");
    EXPECT_NE(url.find("vendor=" + std::string(kReportFieldLimit, 'v') + "&model=m"),
              std::string::npos);
}

TEST(PhoneReportReply, OnlyExactlyOkIsSuccess) {
    EXPECT_TRUE(replyAccepted("OK"));
    for (const char* reply : {"OK\n", "OK\r\n", "ok", "", "O", "OKAY", "ERR"}) {
        EXPECT_FALSE(replyAccepted(reply)) << reply;
    }
}

TEST(PhoneReport, ReachesTheServerPercentEncoded) {
    ReportServer server;
    std::vector<std::string> statuses;
    const ReportOutcome outcome = sendPhoneReport(
        server.homeUrl(), "Sony Ericsson", "W810i & K750i=twins",
        [&](std::string_view status) { statuses.emplace_back(status); }, 5s);

    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.headline, "Successfully sent");
    EXPECT_EQ(outcome.detail, "Thank you...");
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_EQ(request,
              "GET /phone_notify.php?vendor=Sony%20Ericsson&model=W810i%20%26%20K750i%3Dtwins");
    const Poco::URI::QueryParameters parameters = parametersOf(request);
    ASSERT_EQ(parameters.size(), 2u);
    EXPECT_EQ(parameters[0], (std::pair<std::string, std::string>{"vendor", "Sony Ericsson"}));
    EXPECT_EQ(parameters[1], (std::pair<std::string, std::string>{"model", "W810i & K750i=twins"}));
    EXPECT_EQ(statuses,
              (std::vector<std::string>{std::string(kFindingHost), std::string(kConnectingHost),
                                        std::string(kSendingRequest),
                                        std::string(kReceivingResponse), std::string(kFinishing)}));
    // The downloaded reply does not stay in the cache.
    EXPECT_TRUE(std::filesystem::is_empty(tolvane::platform::cacheFolder()));
}

TEST(PhoneReport, EmptyFieldsStillSendAReport) {
    ReportServer server;
    EXPECT_TRUE(sendPhoneReport(server.homeUrl(), "", "", {}, 5s).sent);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET /phone_notify.php?vendor=&model=");
}

TEST(PhoneReport, OutcomeOfEachReply) {
    struct Case {
        int status;
        std::string body;
        std::string_view detail;
    };
    const Case cases[] = {
        {200, "OK", "Thank you..."},          {200, "OK\n", "Server error"},
        {200, "OK, thanks", "Server error"},  {200, "", "Server error"},
        {200, "ERR unknown", "Server error"}, {404, "OK", "Unable to send"},
        {500, "", "Unable to send"},
    };
    ReportServer server;
    for (const Case& c : cases) {
        server.answer(c.status, c.body);
        const ReportOutcome outcome = sendPhoneReport(server.homeUrl(), "Nokia", "1234", {}, 5s);
        EXPECT_EQ(outcome.detail, c.detail) << c.status << " '" << c.body << "'";
        EXPECT_EQ(outcome.headline, outcome.sent ? "Successfully sent" : "Failure!");
    }
}

TEST(PhoneReport, RedirectIsFollowed) {
    ReportServer server;
    server.answer(302, "", "/moved");
    // "/phone_notify.php" and "/moved" redirect to each other: the chain ends at the hop limit
    // as a failure, after a bounded number of requests.
    EXPECT_EQ(sendPhoneReport(server.homeUrl(), "Nokia", "1", {}, 5s).detail, "Unable to send");
    EXPECT_LE(server.requests().size(), 6u);

    server.answer(200, "OK");
    ReportServer moved;
    moved.answer(301, "", server.homeUrl() + "phone_notify.php?vendor=Nokia&model=1");
    EXPECT_TRUE(sendPhoneReport(moved.homeUrl(), "Nokia", "1", {}, 5s).sent);
    EXPECT_EQ(server.requests().back(), "GET /phone_notify.php?vendor=Nokia&model=1");
}

TEST(PhoneReport, FailuresBeforeAnyReply) {
    EXPECT_EQ(sendPhoneReport("", "Nokia", "1", {}, 5s).detail, "Cannot encode URL");
    EXPECT_EQ(sendPhoneReport("not a home page", "Nokia", "1", {}, 5s).detail, "Cannot encode URL");

    // A port nobody listens on.
    std::string closedHome;
    {
        Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
        closedHome = "http://127.0.0.1:" + std::to_string(probe.address().port()) + "/";
    }
    EXPECT_EQ(sendPhoneReport(closedHome, "Nokia", "1", {}, 5s).detail, "Unable to send");

    // A server that takes the connection but never answers: the time-out ends the wait.
    Poco::Net::ServerSocket silent(Poco::Net::SocketAddress("127.0.0.1", 0));
    const std::string silentHome =
        "http://127.0.0.1:" + std::to_string(silent.address().port()) + "/";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(sendPhoneReport(silentHome, "Nokia", "1", {}, 300ms).detail, "Unable to send");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(PhoneReport, TaskRunsOnItsOwnThreadAndReportsOnce) {
    ReportServer server;
    std::promise<ReportOutcome> finished;
    std::atomic<int> doneCalls = 0;
    std::atomic<bool> progressOffThread = true;
    const auto caller = std::this_thread::get_id();
    {
        PhoneReportTask task(
            server.homeUrl(), "Nokia", "7710",
            [&](std::string_view) {
                if (std::this_thread::get_id() == caller)
                    progressOffThread = false;
            },
            [&](const ReportOutcome& outcome) {
                ++doneCalls;
                finished.set_value(outcome);
            },
            5s);
        EXPECT_TRUE(finished.get_future().get().sent);
    }
    EXPECT_EQ(doneCalls, 1);
    EXPECT_TRUE(progressOffThread);
}
