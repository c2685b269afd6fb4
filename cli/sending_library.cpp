// sending.so's one exported symbol: the table of its entries, each catching at the edge.
#include "cli/sending_library.h"

#include <new>
#include <stdexcept>

#include "delivery/account.h"
#include "delivery/qr_code.h"
#include "delivery/sending_phase.h"

namespace tolvane::cli::sending_library {
namespace {

// The worker's own order of handlers, so that each failure keeps the line it always had.
SendFailure send(RunState& state, Settings& settings, ProgressView& view, SendOutcome& outcome,
                 std::string& message) {
    try {
        delivery::DeliverySendingPhase phase;
        outcome = phase.send(state, settings, view);
        return SendFailure::None;
    } catch (const MailServerError&) {
        return SendFailure::MailServer;
    } catch (const NetworkFailure&) {
        return SendFailure::Network;
    } catch (const AppException& e) {
        return message.assign(e.message()), SendFailure::Message;
    } catch (const std::logic_error& e) {
        return message.assign(e.what()), SendFailure::LogicError;
    } catch (const std::bad_alloc&) {
        return SendFailure::OutOfMemory;
    } catch (...) {
        return SendFailure::Unhandled;
    }
}

bool printPickUpAddress(std::FILE* text, std::FILE* terminal, const char* serviceUrl,
                        const char* accountNumber) {
    try {
        const std::string url = delivery::pickUpLink(serviceUrl, accountNumber);
        std::fprintf(text, "Pick-up address: %s\n", url.c_str());
        if (terminal == nullptr)
            return true;
        const auto code = delivery::makeQrCode(url);
        if (!code)
            return false;
        std::fprintf(terminal, "Scan this with the phone's camera:\n%s",
                     delivery::qrCodeHalfBlocks(*code).c_str());
        std::fflush(terminal);
        return true;
    } catch (...) {
        return false;
    }
}

constexpr Entries kEntries{kInterfaceVersion, sizeof(Settings), sizeof(RunState), send,
                           printPickUpAddress};

}  // namespace
}  // namespace tolvane::cli::sending_library

extern "C" __attribute__((visibility("default"))) const tolvane::cli::sending_library::Entries*
TolvaneSending() {
    return &tolvane::cli::sending_library::kEntries;
}
