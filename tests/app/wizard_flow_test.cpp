#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/wizard_flow.h"
#include "support/test_support.h"

namespace tolvane::wizard {
namespace {

TEST(WizardPages, FourteenPagesInTemplateIdOrderWithTheirCaptions) {
    const auto& table = pages();
    ASSERT_EQ(table.size(), 14u);
    const int ids[] = {201, 203, 205, 207, 219, 220, 253, 254, 257, 262, 263, 264, 279, 282};
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(table[i].id, ids[i]);
        EXPECT_EQ(positionOf(ids[i]), i);
    }
    EXPECT_STREQ(pageInfo(kWelcome)->caption, "Welcome to Tolvane");
    EXPECT_STREQ(pageInfo(kFiles)->subtitle, "Add or drag-and-drop files to conversion list");
    EXPECT_STREQ(pageInfo(kNegotiate)->caption, "Negotiating with Skylet service...");
    EXPECT_STREQ(pageInfo(kFinalMms)->className, "WizPage11_FinalMMS");
    EXPECT_EQ(positionOf(202), -1);
    EXPECT_EQ(pageInfo(0), nullptr);
}

TEST(WizardPages, ExteriorPagesAreWelcomeSuccessAndFailure) {
    for (const PageInfo& page : pages())
        EXPECT_EQ(page.exterior, page.id == kWelcome || page.id == kSuccess || page.id == kFailure)
            << page.className;
}

TEST(WizardPages, HelpContextsAndTheHelpPageHoldsEveryTopic) {
    const std::pair<PageId, int> contexts[] = {
        {kWelcome, 2}, {kFiles, 3},       {kFormat, 4},   {kTarget, 5},    {kProgress, 6},
        {kManage, 7},  {kSetPassword, 8}, {kPassword, 1}, {kNegotiate, 1}, {kFinalSms, 1}};
    for (auto [id, context] : contexts)
        EXPECT_EQ(pageInfo(id)->helpContext, context) << id;

    std::ifstream help(std::string(TOLVANE_SOURCE_DIR) + "/resources/tolvanehelp.html");
    ASSERT_TRUE(help) << "help page missing";
    std::stringstream text;
    text << help.rdbuf();
    for (const PageInfo& page : pages())
        EXPECT_NE(text.str().find("id=\"" + helpAnchor(page.helpContext) + "\""), std::string::npos)
            << page.className;
}

TEST(WizardFlow, ClosingPageAfterTheWorkFinished) {
    struct Case {
        const char* errors;
        bool send;
        const char* delivery;
        PageId expected;
    };
    const Case cases[] = {
        {"", false, "MMS", kSuccess},
        {"", true, "MMS", kFinalMms},
        {"", true, "SMS+WAP", kFinalSms},
        {"", true, "WAP", kUploads},
        {"", true, "", kUploads},
        {"a.wav: cannot open file.\r\n", true, "WAP", kFailure},  // even when sending worked
        {"Conversion cancelled.\r\n", false, "WAP", kFailure},
    };
    for (const Case& c : cases)
        EXPECT_EQ(closingPage(c.errors, c.send, c.delivery), c.expected)
            << c.errors << c.send << c.delivery;
}

// The page ids live in the wizard alone: the worker and the account tasks say what happened.
TEST(WizardFlow, PasswordRequestsAndTaskOutcomesLeadToTheirPages) {
    struct PasswordCase {
        PasswordRequest request;
        int back, next;
    };
    const PasswordCase passwords[] = {
        {PasswordRequest::None, kNoTarget, kNoTarget},
        {PasswordRequest::ForUpload, kTarget, kProgress},
        {PasswordRequest::ForAccountTask, kManage, kNegotiate},
    };
    for (const PasswordCase& c : passwords) {
        EXPECT_EQ(passwordBackPage(c.request), c.back);
        EXPECT_EQ(passwordNextPage(c.request), c.next);
    }
    using delivery::TaskOutcome;
    struct TaskCase {
        TaskOutcome outcome;
        int back, next;
        const char* endText;  // the page's first line once the task has ended
    };
    const TaskCase tasks[] = {
        {TaskOutcome::None, kNoTarget, kNoTarget, kNegotiateWaitText},
        {TaskOutcome::Done, kNoTarget, kWelcome, "Done. Click Next to return to the first page."},
        {TaskOutcome::WrongOldPassword, kSetPassword, kNoTarget,
         "The password was not changed. Click Back to enter the old password again."},
        {TaskOutcome::Failed, kManage, kNoTarget,
         "The operation did not succeed. Click Back to choose again."},
    };
    for (const TaskCase& c : tasks) {
        EXPECT_EQ(taskBackPage(c.outcome), c.back);
        EXPECT_EQ(taskNextPage(c.outcome), c.next);
        EXPECT_EQ(taskEndText(c.outcome), c.endText);
    }
}

TEST(WizardFlow, HelpPathAndLinks) {
    EXPECT_EQ(helpFilePath("/opt/tolvane/lib/tolvane"),
              "/opt/tolvane/lib/tolvane/tolvanehelp.html");
    EXPECT_EQ(helpFilePath("/opt/tolvane/lib/tolvane/"),
              "/opt/tolvane/lib/tolvane/tolvanehelp.html");
    EXPECT_EQ(helpAnchor(6), "context-6");
    EXPECT_EQ(contactsUrl("http://example.org/"), "http://example.org/?contacts");
}

}  // namespace
}  // namespace tolvane::wizard
