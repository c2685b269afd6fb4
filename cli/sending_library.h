// The interface of sending.so: tolvane-convert's sending (the delivery phase over the mail and
// upload service clients, and the pick-up address's QR code) in a library loaded from the
// application folder only when --send is given. The program links no mail, network or QR library,
// so every run that does not send starts without loading them.
//
// The library is the delivery layer alone. What delivery uses of the layers below it (the
// settings, the run state, the password exchange, the registry) it takes from the program, which
// exports its symbols: there is one copy of each, so the process-wide state the program sets (the
// upload password typed on the terminal, the cancel flag, the stored settings) is the state
// delivery reads. Program and library are built and installed together; the entry table's version
// and the sizes of the shared structures refuse a library from another build.
//
// Nothing thrown crosses the edge: the library catches what delivery throws and reports it as a
// failure code and its text, and the program's side throws the worker's own exception again.
#pragma once

#include <cstdio>
#include <string>

#include "pipeline/settings.h"
#include "pipeline/worker.h"

namespace tolvane::cli::sending_library {

inline constexpr const char* kLibraryName = "sending.so";
inline constexpr const char* kEntryName = "TolvaneSending";
inline constexpr int kInterfaceVersion = 1;

// How the delivery phase ended, as the worker tells its failures apart.
enum class SendFailure : int {
    None = 0,         // `outcome` holds how it ended
    MailServer = 1,   // MailServerError
    Network = 2,      // NetworkFailure
    Message = 3,      // an AppException; `message` is its line
    LogicError = 4,   // a std::logic_error; `message` is its description
    OutOfMemory = 5,  // std::bad_alloc
    Unhandled = 6,    // anything else
};

struct Entries {
    int version;
    std::size_t settingsSize;  // sizeof(Settings) in the library's build
    std::size_t runStateSize;  // sizeof(RunState) in the library's build
    // The delivery phase's send (see delivery/sending_phase.h), with the service's default
    // time-out.
    SendFailure (*send)(RunState& state, Settings& settings, ProgressView& view,
                        SendOutcome& outcome, std::string& message);
    // Names the account's pick-up address on `text` and, when `terminal` is given, draws its QR
    // code there. False when the address or the code cannot be made.
    bool (*printPickUpAddress)(std::FILE* text, std::FILE* terminal, const char* serviceUrl,
                               const char* accountNumber);
};

using EntryFunction = const Entries* (*)();

}  // namespace tolvane::cli::sending_library
