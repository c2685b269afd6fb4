#include "cli/sending.h"

#include <dlfcn.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <new>
#include <stdexcept>

#include "delivery/carriers.h"
#include "delivery/target_rules.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane::cli {

std::optional<std::string> deliveryByName(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    for (std::string_view method :
         {delivery::kDeliveryWap, delivery::kDeliverySmsWap, delivery::kDeliveryMms})
        if (upper == method)
            return std::string(method);
    return std::nullopt;
}

std::optional<std::string> checkSendOptions(const SendOptions& options) {
    const auto refusal =
        delivery::checkSendingContact(true, options.delivery, options.phoneNumber, options.email);
    if (refusal)
        return refusal->message;
    return std::nullopt;
}

SendOutcome RecordingSendingPhase::send(RunState& state, Settings& settings, ProgressView& view) {
    for (const std::string& path : state.ProducedFiles)
        if (std::find(given_.begin(), given_.end(), path) == given_.end())
            given_.push_back(path);
    return inner_.send(state, settings, view);
}

std::optional<std::string> askPasswordOnTerminal(const std::string& accountNumber) {
    if (!isatty(STDIN_FILENO))
        return std::nullopt;
    std::fprintf(stderr, "Password for Skylet account %s: ", accountNumber.c_str());
    std::fflush(stderr);
    termios saved{};
    const bool canHide = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::string password;
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (canHide)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
    if (!read)
        return std::nullopt;
    return password;
}

namespace {

// A failure of the library's own (not one of the worker's exceptions): "Unhandled exception.".
struct UnhandledSendFailure {};

const sending_library::Entries* openSendingLibrary(const std::string& folder, std::string& error) {
    using namespace sending_library;
    if (folder.empty()) {
        error = "the application folder (AppPath) is not set";
        return nullptr;
    }
    const std::string path = folder + "/" + kLibraryName;
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : path + ": cannot be loaded";
        return nullptr;
    }
    const auto entry = reinterpret_cast<EntryFunction>(::dlsym(library, kEntryName));
    const Entries* entries = entry != nullptr ? entry() : nullptr;
    if (entries == nullptr || entries->version != kInterfaceVersion ||
        entries->settingsSize != sizeof(Settings) || entries->runStateSize != sizeof(RunState)) {
        ::dlclose(library);
        error = path + ": not the library of this program's build";
        return nullptr;
    }
    return entries;
}

}  // namespace

const sending_library::Entries* loadSendingLibrary(std::string& error) {
    static std::mutex mutex;
    static const sending_library::Entries* entries = nullptr;
    std::lock_guard lock(mutex);
    if (entries == nullptr)
        entries = openSendingLibrary(platform::applicationFolder(), error);
    return entries;
}

SendOutcome LibrarySendingPhase::send(RunState& state, Settings& settings, ProgressView& view) {
    using sending_library::SendFailure;
    if (library_ == nullptr)
        throw std::logic_error(std::string(kLineNoSending));
    SendOutcome outcome = SendOutcome::Finished;
    std::string message;
    switch (library_->send(state, settings, view, outcome, message)) {
        case SendFailure::None:
            return outcome;
        case SendFailure::MailServer:
            throw MailServerError(message);
        case SendFailure::Network:
            throw NetworkFailure(message);
        case SendFailure::Message:
            throw AppException(message);
        case SendFailure::LogicError:
            throw std::logic_error(message);
        case SendFailure::OutOfMemory:
            throw std::bad_alloc();
        case SendFailure::Unhandled:
            break;
    }
    throw UnhandledSendFailure{};
}

void LibrarySendingPhase::printPickUpAddress(std::FILE* text, std::FILE* terminal,
                                             const std::string& serviceUrl,
                                             const std::string& accountNumber) const {
    if (library_ != nullptr)
        library_->printPickUpAddress(text, terminal, serviceUrl.c_str(), accountNumber.c_str());
}

}  // namespace tolvane::cli
