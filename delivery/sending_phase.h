// The worker's sending phase: "MMS" mails every ringtone to the carrier's MMS gateway; "WAP" and
// "SMS+WAP" upload them to the Skylet service (creating an account on the first upload, starting
// a new one when the service reports the old one expired), and "SMS+WAP" then mails the pick-up
// link to the carrier's SMS gateway.
#pragma once

#include <chrono>

#include "delivery/skylet_client.h"
#include "pipeline/worker.h"

namespace tolvane::delivery {

class DeliverySendingPhase : public SendingPhase {
public:
    // `timeout` bounds each request to the service and each step of the mail conversation.
    explicit DeliverySendingPhase(std::chrono::milliseconds timeout = SkyletClient::kDefaultTimeout)
        : timeout_(timeout) {}

    // Sends state.ProducedFiles; every file sent leaves the list. Mail and network failures
    // come out as MailServerError and NetworkFailure, service failures as SkyletException. A
    // refused password clears the in-memory and stored passwords, points the Password page back
    // to the Target page and on to the Progress page, and returns PasswordNeeded.
    SendOutcome send(RunState& state, Settings& settings, ProgressView& view) override;

private:
    SendOutcome sendBy(RunState& state, Settings& settings, ProgressView& view);
    SendOutcome uploadStep(RunState& state, Settings& settings, ProgressView& view);

    std::chrono::milliseconds timeout_;
};

}  // namespace tolvane::delivery
