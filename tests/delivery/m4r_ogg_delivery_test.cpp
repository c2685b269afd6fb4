// iPhone (M4R) and Android (Ogg) ringtones made by the real tolvane-convert, uploaded by the
// upload client to the real skyletd and fetched back as a phone's browser would.
#include <gtest/gtest.h>

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include "delivery/mail_delivery.h"
#include "delivery/skylet_client.h"
#include "local_servers.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using delivery::SkyletClient;
using test::TempDir;

struct Fetched {
    std::string type;
    std::string body;
};

Fetched fetch(const std::string& url) {
    Poco::URI uri(url);
    Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, uri.getPathAndQuery(),
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    Fetched fetched;
    Poco::StreamCopier::copyToString(session.receiveResponse(response), fetched.body);
    fetched.type = response.getContentType();
    return fetched;
}

TEST(ModernRingtoneTypes, MailPartsAndUploadPartsSayWhatTheFileIs) {
    const std::pair<const char*, const char*> cases[] = {
        {"/My Ringtones/song.m4r", "audio/mp4"},
        {"/My Ringtones/SONG.OGG", "audio/ogg"},
        {"/My Ringtones/song.amr", "application/octet-stream"},  // as the service always got it
        {"/My Ringtones/song.mp3", "application/octet-stream"},
    };
    for (const auto& [path, type] : cases)
        EXPECT_EQ(delivery::uploadPartType(path), type) << path;
    const std::string body =
        delivery::buildUploadBody("\r\n-----------------------------7e", "/x/a.m4r", "bytes");
    EXPECT_NE(body.find("filename=\"/x/a.m4r\"\r\nContent-Type: audio/mp4\r\n\r\nbytes"),
              std::string::npos)
        << body;
    EXPECT_EQ(delivery::mediaTypeOf("/x/a.m4r"), "audio/mp4");
    EXPECT_EQ(delivery::mediaTypeOf("/x/a.ogg"), "audio/ogg");
}

TEST(ModernRingtoneTypes, SkyletdStoresAndServesBothAndRefusesImpostors) {
    for (const char* tool : {"sox", "ffprobe"})
        if (!test::haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    TempDir dir;
    const std::string source = dir.file("Song for you.wav");
    ASSERT_TRUE(test::makeTone(source, 44100, 2, 16, 3.0, "pluck 220 pluck 330"));
    for (const char* format : {"m4r", "ogg"}) {
        const test::CommandResult r = test::run({(test::binDir() / "tolvane-convert").string(),
                                                 "-f", format, "-o", dir.file("out"), source});
        ASSERT_EQ(r.status, 0) << r.errors;
    }
    const std::string m4r = dir.file("out/Song for you.m4r");
    const std::string ogg = dir.file("out/Song for you.ogg");

    test::SkyletServer server;
    SkyletClient client(server.baseUrl());
    const std::string account = client.createAccount();
    SkyletClient owner(server.baseUrl(), account);
    owner.upload(m4r);
    owner.upload(ogg);

    // A file that only carries the name of the format is refused.
    const std::string fakeM4r = dir.file("fake.m4r"), fakeOgg = dir.file("fake.ogg");
    test::writeFile(fakeM4r, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
    test::writeFile(fakeOgg, {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0, 0});
    for (const std::string& fake : {fakeM4r, fakeOgg}) {
        try {
            owner.upload(fake);
            ADD_FAILURE() << fake << " was taken";
        } catch (const delivery::SkyletException& e) {
            EXPECT_EQ(e.message(), "Bad file type. Cannot upload.") << fake;
        }
    }

    // The phone's pick-up page lists both with their types and serves the bytes unchanged.
    const Fetched page = fetch(server.baseUrl() + "?id=" + account);
    EXPECT_NE(page.body.find("type=\"audio/mp4\""), std::string::npos) << page.body;
    EXPECT_NE(page.body.find("type=\"audio/ogg\""), std::string::npos) << page.body;
    EXPECT_NE(page.body.find(">Song for you.m4r<"), std::string::npos);
    const std::pair<std::string, std::string> served[] = {{m4r, "audio/mp4"}, {ogg, "audio/ogg"}};
    for (std::size_t i = 0; i < 2; ++i) {
        const Fetched file =
            fetch(server.baseUrl() + "get.ashx?id=" + account + "&f=" + std::to_string(i + 1));
        EXPECT_EQ(file.type, served[i].second);
        const std::vector<std::uint8_t> original = test::readFile(served[i].first);
        EXPECT_TRUE(file.body == std::string(original.begin(), original.end())) << i;
    }
}

}  // namespace
}  // namespace tolvane
