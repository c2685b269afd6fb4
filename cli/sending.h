// Sending from the command line: the wizard's checks on the phone number and e-mail address, the
// delivery phase on the worker (from sending.so, loaded only when sending), and the password
// question when the service refuses the stored password.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/sending_library.h"
#include "pipeline/worker.h"

namespace tolvane::cli {

struct SendOptions {
    std::string delivery;  // "WAP", "SMS+WAP" or "MMS"
    std::uint32_t carrier = 0;
    std::string phoneNumber;
    std::string email;
    std::optional<std::string> password;  // the upload password for this run
};

// "WAP", "SMS+WAP" or "MMS" as typed (any case); nothing otherwise.
std::optional<std::string> deliveryByName(std::string_view text);

// The Target page's refusal of these values, or nothing when they may be sent.
std::optional<std::string> checkSendOptions(const SendOptions& options);

// The sending phase with a note of the ringtones it was given, so that the front end can list
// them after delivery has taken them off the run's list.
class RecordingSendingPhase : public SendingPhase {
public:
    explicit RecordingSendingPhase(SendingPhase& inner) : inner_(inner) {}
    SendOutcome send(RunState& state, Settings& settings, ProgressView& view) override;
    const std::vector<std::string>& given() const { return given_; }

private:
    SendingPhase& inner_;
    std::vector<std::string> given_;
};

// Asks for the upload password on the terminal without echo. Nothing when standard input is not
// a terminal or the user ends the input.
std::optional<std::string> askPasswordOnTerminal(const std::string& accountNumber);

// sending.so's entries, loaded from the application folder the first time they are asked for
// and kept for the life of the process; null with `error` saying why when it cannot be loaded.
const sending_library::Entries* loadSendingLibrary(std::string& error);

// The delivery phase of sending.so, seen by the worker as any other sending phase: each failure
// the library reports comes out as the exception the worker turns into its line. Without a
// library (a run that does not send) it refuses to send, with the worker's line for that.
class LibrarySendingPhase : public SendingPhase {
public:
    explicit LibrarySendingPhase(const sending_library::Entries* library) : library_(library) {}
    SendOutcome send(RunState& state, Settings& settings, ProgressView& view) override;

    // Names the account's pick-up address on `text` and, when `terminal` is given (standard
    // output is a terminal), draws its QR code there for the phone's camera.
    void printPickUpAddress(std::FILE* text, std::FILE* terminal, const std::string& serviceUrl,
                            const std::string& accountNumber) const;

private:
    const sending_library::Entries* library_;
};

}  // namespace tolvane::cli
