// The account pages' task worker against skyletd.
#include <gtest/gtest.h>

#include "delivery/account_tasks.h"
#include "delivery/local_servers.h"
#include "delivery/service_fixture.h"

namespace tolvane::delivery {
namespace {

using namespace std::chrono_literals;
using test::SkyletServer;

AccountTaskRequest task(int code) {
    AccountTaskRequest request;
    request.task = code;
    return request;
}

class TaskView : public AccountTaskView {
public:
    void setStatus(std::string_view text) override { statuses.emplace_back(text); }
    void postMessage(int message) override { messages.push_back(message); }
    std::vector<std::string> statuses;
    std::vector<int> messages;
};

class AccountTasksTest : public test::ServiceSettingsTest {
protected:
    AccountTaskResult run(const AccountTaskRequest& request, Settings& settings) {
        view_ = TaskView{};
        AccountTaskResult result;
        runAccountTask(request, settings, result, view_, 2s);
        return result;
    }
    TaskView view_;
};

TEST_F(AccountTasksTest, SetChangeAndRemoveThePassword) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    struct Case {
        std::string oldPassword, newPassword, status;
        TaskOutcome outcome;
    } cases[] = {
        {"", "12&34", "Success. Your uploads are now password protected.", TaskOutcome::Done},
        {"wrong", "5678",
         "Failure. Wrong old password specified. Click 'Back' and reenter old password.",
         TaskOutcome::WrongOldPassword},
        {"12&34", "5678", "Successfully changed uploads password.", TaskOutcome::Done},
        {"5678", "", "Success. Your uploads are no longer password protected.", TaskOutcome::Done},
        {"", "", "Success. Your uploads are not password protected.", TaskOutcome::Done},
    };
    for (const Case& c : cases) {
        const auto result = run({kTaskSetPassword, c.oldPassword, c.newPassword}, settings);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.outcome, c.outcome) << c.status;
        ASSERT_FALSE(view_.statuses.empty());
        EXPECT_EQ(view_.statuses.front(), kStatusNegotiating);
        EXPECT_EQ(view_.messages, (std::vector<int>{kMsgWorkFinished}));
        EXPECT_EQ(reloaded().accountPassword(), "");
    }
    EXPECT_EQ(reloaded().accountNumber(), "0001");  // made by the first task
}

TEST_F(AccountTasksTest, WipeWithAWrongStoredPasswordAsksForIt) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    run({kTaskSetPassword, "", "1234"}, settings);
    settings.setAccountPassword("bad");

    auto result = run(task(kTaskWipe), settings);
    EXPECT_EQ(view_.messages, (std::vector<int>{kMsgPasswordNeeded}));
    EXPECT_EQ(passwordExchange().request, PasswordRequest::ForAccountTask);
    EXPECT_EQ(reloaded().accountPassword(), "");

    passwordExchange().password = "1234";
    result = run(task(kTaskWipe), settings);
    EXPECT_EQ(result.status, "Success. Your uploads have been removed from server.");
    EXPECT_EQ(result.outcome, TaskOutcome::Done);
    EXPECT_EQ(view_.messages, (std::vector<int>{kMsgWorkFinished}));
}

TEST_F(AccountTasksTest, LostPasswordMakesANewAccount) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    run({kTaskSetPassword, "", "1234"}, settings);
    const auto result = run(task(kTaskNewAccount), settings);
    EXPECT_EQ(result.status, "Success. New account created.");
    EXPECT_EQ(reloaded().accountNumber(), "0002");
    EXPECT_EQ(reloaded().accountStatus(), 1);
}

TEST_F(AccountTasksTest, ExpiredAccountDuringAWipeIsReplaced) {
    SkyletServer skylet;
    Settings settings = settingsFor(skylet.baseUrl());
    run(task(kTaskNewAccount), settings);
    skylet.ageAccount("0001");
    const auto result = run(task(kTaskWipe), settings);
    EXPECT_EQ(result.status, "Success. Your uploads have been removed from server.");
    EXPECT_NE(std::find(view_.statuses.begin(), view_.statuses.end(),
                        "Your account has been expired. The Wizard will create new one for you."),
              view_.statuses.end());
    EXPECT_EQ(reloaded().accountNumber(), "0002");
}

TEST_F(AccountTasksTest, FailuresLeadBackToTheManagePage) {
    std::string closed;
    {
        test::SilentServer gone;
        closed = gone.baseUrl();
    }
    Settings settings = settingsFor(closed);
    auto result = run(task(kTaskWipe), settings);
    EXPECT_EQ(result.status, kCannotConnect);
    EXPECT_EQ(result.outcome, TaskOutcome::Failed);
    EXPECT_EQ(view_.messages, (std::vector<int>{kMsgWorkFinished}));

    SkyletServer skylet;
    Settings good = settingsFor(skylet.baseUrl());
    result = run(task(99), good);
    EXPECT_EQ(result.status, "Internal error.");
}

}  // namespace
}  // namespace tolvane::delivery
