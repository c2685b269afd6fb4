#include "cli/sending.h"

#include "delivery/account.h"
#include "delivery/qr_code.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "delivery/carriers.h"
#include "delivery/target_rules.h"

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

void printPickUpAddress(std::FILE* text, std::FILE* terminal, const std::string& serviceUrl,
                        const std::string& accountNumber) {
    const std::string url = delivery::pickUpLink(serviceUrl, accountNumber);
    std::fprintf(text, "Pick-up address: %s\n", url.c_str());
    if (!terminal)
        return;
    if (const auto code = delivery::makeQrCode(url)) {
        std::fprintf(terminal, "Scan this with the phone's camera:\n%s",
                     delivery::qrCodeHalfBlocks(*code).c_str());
        std::fflush(terminal);
    }
}

}  // namespace tolvane::cli
