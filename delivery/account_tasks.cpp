#include "delivery/account_tasks.h"

#include <new>
#include <stdexcept>

#include "delivery/account.h"
#include "pipeline/settings.h"
#include "pipeline/worker.h"

namespace tolvane::delivery {
namespace {

// Raised by setPassword only: the typed old password is wrong, which the user mends on the
// Set-or-change page rather than on the Password page.
class WrongOldPassword : public std::runtime_error {
public:
    WrongOldPassword() : std::runtime_error("wrong old password") {}
};

std::string passwordStatus(const std::string& oldPassword, const std::string& newPassword) {
    if (oldPassword.empty() && !newPassword.empty())
        return "Success. Your uploads are now password protected.";
    if (!oldPassword.empty() && !newPassword.empty())
        return "Successfully changed uploads password.";
    if (!oldPassword.empty())
        return "Success. Your uploads are no longer password protected.";
    return "Success. Your uploads are not password protected.";
}

// The task itself (steps after the status line); returns the success status line.
std::string performTask(const AccountTaskRequest& request, Settings& settings,
                        std::chrono::milliseconds timeout) {
    PasswordExchange& exchange = passwordExchange();
    if (settings.accountStatus() == 0) {
        SkyletClient registrar = clientFor(settings, {}, timeout);
        createAndStoreAccount(registrar, settings);
    }
    if (exchange.password.empty())
        exchange.password = settings.accountPassword();
    switch (request.task) {
        case kTaskSetPassword: {
            SkyletClient service = clientFor(settings, request.oldPassword, timeout);
            try {
                service.setPassword(request.newPassword);
            } catch (const SkyletWrongPasswordException&) {
                throw WrongOldPassword();
            }
            // The next upload asks for the new password.
            settings.setAccountPassword("");
            exchange.password.clear();
            return passwordStatus(request.oldPassword, request.newPassword);
        }
        case kTaskWipe:
            clientFor(settings, exchange.password, timeout).wipe();
            return "Success. Your uploads have been removed from server.";
        case kTaskNewAccount:
            return "Success. New account created.";
        default:
            return "Internal error.";
    }
}

}  // namespace

void runAccountTask(const AccountTaskRequest& request, Settings& settings,
                    AccountTaskResult& result, AccountTaskView& view,
                    std::chrono::milliseconds timeout) {
    PasswordExchange& exchange = passwordExchange();
    result = AccountTaskResult{};
    view.setStatus(kStatusNegotiating);
    if (request.task == kTaskNewAccount)
        settings.setAccountStatus(0);

    auto failWith = [&](std::string status, TaskOutcome outcome) {
        result.status = std::move(status);
        result.outcome = outcome;
    };
    bool accountIsNew = settings.accountStatus() == 0;
    for (;;) {
        try {
            result.status = performTask(request, settings, timeout);
            result.outcome = TaskOutcome::Done;
        } catch (const WrongOldPassword&) {
            failWith(
                "Failure. Wrong old password specified. Click 'Back' and reenter old "
                "password.",
                TaskOutcome::WrongOldPassword);
        } catch (const SkyletWrongPasswordException&) {
            exchange.password.clear();
            settings.setAccountPassword("");
            exchange.request = PasswordRequest::ForAccountTask;
            view.postMessage(kMsgPasswordNeeded);
            return;
        } catch (const SkyletAccountExpiredException& error) {
            exchange.password.clear();
            settings.setAccountStatus(0);
            // A brand-new account reported expired cannot be mended by another new one.
            if (accountIsNew) {
                failWith(error.message(), TaskOutcome::Failed);
            } else {
                view.setStatus(
                    "Your account has been expired. The Wizard will create new one for you.");
                accountIsNew = true;
                continue;
            }
        } catch (const SkyletException& error) {
            failWith(error.message(), TaskOutcome::Failed);
        } catch (const std::logic_error& error) {
            failWith(error.what(), TaskOutcome::Failed);
        } catch (const std::bad_alloc&) {
            failWith("Out of memory.", TaskOutcome::Failed);
        } catch (...) {
            failWith("Unhandled exception.", TaskOutcome::Failed);
        }
        break;
    }
    view.setStatus(result.status);
    view.postMessage(kMsgWorkFinished);
}

}  // namespace tolvane::delivery
