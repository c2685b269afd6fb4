// The worker's sending phase: uploads with account creation and recovery, MMS and SMS mail, and
// the failures the worker turns into error lines.
#include <gtest/gtest.h>

#include <fstream>

#include "delivery/account.h"
#include "delivery/local_servers.h"
#include "delivery/mail_delivery.h"
#include "delivery/sending_phase.h"
#include "delivery/service_fixture.h"
#include "delivery/skylet_client.h"
#include "delivery/target_rules.h"

namespace tolvane::delivery {
namespace {

using namespace std::chrono_literals;
using test::ScriptedHttpServer;
using test::SkyletServer;
using test::SmtpServer;

class SendingPhaseTest : public test::ServiceSettingsTest {
protected:
    std::vector<std::string> ringtones(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            const std::string path = files_.file(name);
            std::ofstream(path, std::ios::binary)
                << test::ringtoneBytes(name.substr(name.rfind('.') + 1), 200);
            paths.push_back(path);
        }
        return paths;
    }

    // The display names the pick-up page lists for an account.
    static std::vector<std::string> uploadsOf(const SkyletServer& skylet,
                                              const std::string& account) {
        std::vector<std::string> names;
        for (const auto& upload : skylet.uploads(account))
            names.push_back(upload.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir files_;
    RunState state_;
    test::RecordingView view_;
    DeliverySendingPhase phase_{2s};
};

using TargetSettingsTest = test::ServiceSettingsTest;

TEST_F(TargetSettingsTest, PageValuesRoundTripThroughTheSettings) {
    Settings settings = settingsFor("http://127.0.0.1:1/");
    TargetRules rules(targetChoicesFrom(settings));
    EXPECT_EQ(rules.choices().carrier, 0u);  // first run: "> Not listed <" with "WAP"
    EXPECT_EQ(rules.choices().delivery, "WAP");
    rules.selectCarrier(1);  // "3 River": SMS+WAP preselected
    rules.setPhoneNumber("5551234567");
    rules.setEmail("me@example.org");
    rules.setStore(false);
    storeTargetChoices(rules.choices(), settings);

    const Settings stored = reloaded();
    EXPECT_EQ(stored.carrier(), 62);
    EXPECT_EQ(stored.delivery(), "SMS+WAP");
    EXPECT_EQ(stored.save(), 0);
    EXPECT_EQ(stored.send(), 1);
    EXPECT_EQ(TargetRules(targetChoicesFrom(stored)).carrierIndex(), 1u);
}

TEST_F(SendingPhaseTest, FirstUploadCreatesTheAccount) {
    ScriptedHttpServer scripted;
    scripted.reply("/reg.ashx", "7");
    Settings settings = settingsFor(scripted.baseUrl());
    state_.ProducedFiles = ringtones({"a.amr"});
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);

    const Settings stored = reloaded();
    EXPECT_EQ(stored.accountNumber(), "0007");
    EXPECT_EQ(stored.accountStatus(), 1);
    EXPECT_NE(stored.creationDateHigh(), 0u);
    EXPECT_EQ(stored.accountPassword(), "");
    const auto requests = scripted.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].uri, "/upload.ashx?id=0007");  // no "&pwd=" without a password
}

TEST_F(SendingPhaseTest, WapUploadsEveryFileWithProgress) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    state_.ProducedFiles = ringtones({"a.amr", "b.mmf", "c.qcp"});
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);
    EXPECT_TRUE(state_.ProducedFiles.empty());
    EXPECT_EQ(view_.overall, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(view_.names, (std::vector<std::string>{"a.amr", "b.mmf", "c.qcp"}));
    EXPECT_EQ(uploadsOf(skylet, "0001"), (std::vector<std::string>{"a.amr", "b.mmf", "c.qcp"}));
}

TEST_F(SendingPhaseTest, ExpiredDuringTheSecondOfThreeUploads) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    state_.ProducedFiles = ringtones({"a.amr", "b.amr", "c.amr"});
    // After the first file the account grows old on the server.
    view_.onOverall = [&](int percent) {
        if (percent == 33)
            skylet.ageAccount("0001");
    };
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);
    EXPECT_TRUE(state_.ProducedFiles.empty());
    EXPECT_EQ(reloaded().accountNumber(), "0002");
    EXPECT_EQ(reloaded().accountStatus(), 1);
    EXPECT_EQ(uploadsOf(skylet, "0002"), (std::vector<std::string>{"b.amr", "c.amr"}));
    EXPECT_TRUE(skylet.expired("0001"));
}

TEST_F(SendingPhaseTest, AServiceThatExpiresEveryAccountEndsWithItsMessage) {
    ScriptedHttpServer scripted;
    scripted.reply("/reg.ashx", "8");
    scripted.reply("/upload.ashx", "ERR EXPIRED");
    Settings settings = settingsFor(scripted.baseUrl());
    state_.ProducedFiles = ringtones({"a.amr"});
    try {
        phase_.send(state_, settings, view_);
        FAIL() << "no failure";
    } catch (const SkyletException& error) {
        EXPECT_EQ(error.message(), kAccountExpired);
    }
    EXPECT_EQ(state_.ProducedFiles.size(), 1u);
}

TEST_F(SendingPhaseTest, WrongPasswordAsksForItAndTheNextRunOnlySends) {
    SkyletServer skylet;
    SkyletClient(skylet.baseUrl()).createAccount();
    SkyletClient(skylet.baseUrl(), "0001").setPassword("1234");
    Settings settings = settingsFor(skylet.baseUrl());
    settings.setAccountNumber("0001");
    settings.setAccountStatus(1);
    settings.setAccountPassword("9999");
    state_.ProducedFiles = ringtones({"a.amr", "b.amr"});

    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::PasswordNeeded);
    EXPECT_EQ(state_.ProducedFiles.size(), 2u);
    EXPECT_EQ(passwordExchange().password, "");
    EXPECT_EQ(passwordExchange().request, PasswordRequest::ForUpload);
    EXPECT_EQ(reloaded().accountPassword(), "");
    EXPECT_TRUE(view_.messages.empty());  // the worker posts, not the phase

    // Typed on the Password page without "Remember my password".
    acceptTypedPassword("1234", false, settings);
    EXPECT_EQ(reloaded().accountPassword(), "");
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);
    EXPECT_TRUE(state_.ProducedFiles.empty());
    EXPECT_EQ(uploadsOf(skylet, "0001"), (std::vector<std::string>{"a.amr", "b.amr"}));

    // Remembered, the password serves the next run without asking.
    acceptTypedPassword("1234", true, settings);
    EXPECT_EQ(reloaded().accountPassword(), "1234");
    passwordExchange().password.clear();
    state_.ProducedFiles = ringtones({"c.amr"});
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);
}

TEST_F(SendingPhaseTest, SmsPlusWapUploadsThenMailsTheLink) {
    SmtpServer smtp;
    SkyletServer skylet({.relay = smtp.hostText()});
    Settings settings = settingsFor(skylet.baseUrl());
    settings.setDelivery("SMS+WAP");
    settings.setCarrier(29);
    settings.setPhoneNumber("5551234567");
    settings.setEmail("me@example.org");
    state_.ProducedFiles = ringtones({"a.amr"});
    EXPECT_EQ(phase_.send(state_, settings, view_), SendOutcome::Finished);
    const auto mails = smtp.mails();
    ASSERT_EQ(mails.size(), 1u);
    const auto mail = SmtpServer::parse(mails[0]);
    EXPECT_EQ(mail->getValue<std::string>("to"), "5551234567@messaging.sprintpcs.com");
    EXPECT_EQ(uploadsOf(skylet, "0001"), (std::vector<std::string>{"a.amr"}));
}

TEST_F(SendingPhaseTest, MmsFailuresBecomeTheWorkersKinds) {
    test::TempDir dir;
    struct Case {
        std::string refuse;
        bool closedRelay;
        std::uint32_t carrier;
        std::string expected;
    } cases[] = {
        {"auth1", false, 15, "mail"},
        {"", true, 15, "network"},
        {"", false, 3, "bad carrier data"},
    };
    for (const Case& c : cases) {
        SmtpServer smtp(c.refuse);
        std::string relay = smtp.hostText();
        if (c.closedRelay) {
            test::SilentServer gone;
            relay = "127.0.0.1:" + std::to_string(gone.port());
        }
        SkyletServer skylet({.relay = relay});
        Settings settings = settingsFor(skylet.baseUrl());
        settings.setDelivery("MMS");
        settings.setCarrier(std::int32_t(c.carrier));
        settings.setPhoneNumber("5551234567");
        settings.setEmail("me@example.org");
        state_.ProducedFiles = ringtones({"a.mmf"});
        std::string outcome;
        try {
            phase_.send(state_, settings, view_);
        } catch (const MailServerError&) {
            outcome = "mail";
        } catch (const NetworkFailure&) {
            outcome = "network";
        } catch (const std::logic_error& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.expected) << c.refuse << c.closedRelay << c.carrier;
        EXPECT_EQ(state_.ProducedFiles.size(), 1u);
    }
}

}  // namespace
}  // namespace tolvane::delivery
