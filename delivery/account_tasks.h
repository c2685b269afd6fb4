// The task worker of the account pages ("Manage my uploads"): set or change the upload password,
// wipe the uploads, or replace a lost password by a new account. Qt-free: the Negotiate page runs
// runAccountTask on a thread of its own and reads the result after the finished message.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "delivery/skylet_client.h"

namespace tolvane {
class Settings;
}

namespace tolvane::delivery {

enum AccountTask : int { kTaskSetPassword = 1, kTaskWipe = 2, kTaskNewAccount = 3 };

struct AccountTaskRequest {
    int task = 0;
    // Typed on the Set-or-change page (task 1 only); empty means none.
    std::string oldPassword;
    std::string newPassword;
};

// How a task ended; the wizard maps it to the pages the Negotiate page's Back and Next lead to.
enum class TaskOutcome {
    None,              // not ended (yet)
    Done,              // the task did what was asked
    WrongOldPassword,  // the old password typed on the Set-or-change page was wrong
    Failed,            // the service or the connection failed
};

// What the Negotiate page shows once the task has ended.
struct AccountTaskResult {
    TaskOutcome outcome = TaskOutcome::None;
    std::string status;
};

// How the task talks to its page. Calls come from the task's thread.
class AccountTaskView {
public:
    virtual ~AccountTaskView() = default;
    virtual void setStatus(std::string_view text) = 0;
    // kMsgWorkFinished or kMsgPasswordNeeded (pipeline/worker.h). Never waits for the page.
    virtual void postMessage(int message) = 0;
};

inline constexpr std::string_view kStatusNegotiating = "Negotiating with Skylet service...";

// Runs one task with the settings' account and the process's in-memory password, fills
// `result`, updates the view and ends by posting the finished message, or the password-needed
// message after asking for the password (PasswordRequest::ForAccountTask). Never throws.
void runAccountTask(const AccountTaskRequest& request, Settings& settings,
                    AccountTaskResult& result, AccountTaskView& view,
                    std::chrono::milliseconds timeout = SkyletClient::kDefaultTimeout);

}  // namespace tolvane::delivery
