#include "delivery/sending_phase.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>

#include "pipeline/settings.h"
#include "delivery/account.h"
#include "delivery/carriers.h"
#include "delivery/mail_delivery.h"
#include "platform/paths.h"

namespace tolvane::delivery {
namespace {

int percentDone(std::size_t done, std::size_t total) {
    return total == 0 ? 100 : int(std::min<std::size_t>(done * 100 / total, 100));
}

MailAddressing addressingOf(const Settings& settings) {
    return MailAddressing{std::uint32_t(settings.carrier()), settings.phoneNumber(),
                          settings.email()};
}

}  // namespace

SendOutcome DeliverySendingPhase::send(RunState& state, Settings& settings, ProgressView& view) {
    // The worker knows no mail or network library: their failures become its two fixed kinds.
    try {
        return sendBy(state, settings, view);
    } catch (const Poco::Net::SMTPException& error) {
        throw MailServerError(error.displayText());
    } catch (const Poco::Net::NetException& error) {
        throw NetworkFailure(error.displayText());
    } catch (const Poco::TimeoutException& error) {
        throw NetworkFailure(error.displayText());
    }
}

SendOutcome DeliverySendingPhase::sendBy(RunState& state, Settings& settings, ProgressView& view) {
    if (settings.delivery() == kDeliveryMms) {
        SkyletClient service = clientFor(settings, {}, timeout_);
        MailDelivery mail(service, addressingOf(settings));
        mail.setTimeout(timeout_);
        mail.sendMms(state.ProducedFiles, [&](int percent) { view.setOverallProgress(percent); });
        return SendOutcome::Finished;
    }
    return uploadStep(state, settings, view);
}

SendOutcome DeliverySendingPhase::uploadStep(RunState& state, Settings& settings,
                                             ProgressView& view) {
    PasswordExchange& exchange = passwordExchange();
    bool accountIsNew = false;
    for (;;) {
        try {
            if (settings.accountStatus() == 0) {
                SkyletClient registrar = clientFor(settings, {}, timeout_);
                createAndStoreAccount(registrar, settings);
                accountIsNew = true;
            }
            if (exchange.password.empty())
                exchange.password = settings.accountPassword();
            SkyletClient service = clientFor(settings, exchange.password, timeout_);
            std::vector<std::string>& files = state.ProducedFiles;
            const std::size_t total = files.size();
            for (std::size_t done = 0; !files.empty(); ++done) {
                view.setFileName(platform::fileNameOf(files.front()));
                service.upload(files.front());
                view.setOverallProgress(percentDone(done + 1, total));
                files.erase(files.begin());
                accountIsNew = false;
            }
            break;
        } catch (const SkyletWrongPasswordException&) {
            exchange.password.clear();
            settings.setAccountPassword("");
            exchange.request = PasswordRequest::ForUpload;
            return SendOutcome::PasswordNeeded;
        } catch (const SkyletAccountExpiredException&) {
            exchange.password.clear();
            settings.setAccountStatus(0);
            // A new account that expires before it took a single file would make this loop run
            // for ever; that is a failure of the service, reported as such.
            if (accountIsNew)
                throw;
        }
    }
    if (settings.delivery() == kDeliverySmsWap) {
        SkyletClient service = clientFor(settings, exchange.password, timeout_);
        MailDelivery mail(service, addressingOf(settings));
        mail.setTimeout(timeout_);
        mail.sendSmsNotice(settings.accountNumber());
    }
    return SendOutcome::Finished;
}

}  // namespace tolvane::delivery
