#include "delivery/account.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <ctime>

#include "pipeline/settings.h"
#include "pipeline/worker.h"
#include "platform/utf16.h"

namespace tolvane::delivery {

std::uint64_t localFileTimeNow() {
    constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::int64_t localSeconds = std::int64_t(now) + local.tm_gmtoff;
    return kUnixEpochAsFileTime + std::uint64_t(localSeconds) * 10000000ULL;
}

std::string createAndStoreAccount(SkyletClient& service, Settings& settings) {
    const std::string number = service.createAccount();
    const std::uint64_t created = localFileTimeNow();
    settings.setAccountNumber(number);
    settings.setAccountStatus(1);
    settings.setCreationDateLow(std::uint32_t(created & 0xFFFFFFFFu));
    settings.setCreationDateHigh(std::uint32_t(created >> 32));
    settings.setAccountPassword("");
    return number;
}

void acceptTypedPassword(const std::string& typed, bool remember, Settings& settings) {
    constexpr std::size_t kPasswordUnits = 127;
    PasswordExchange& exchange = passwordExchange();
    exchange.password = truncateUtf16(typed, kPasswordUnits);
    if (remember)
        settings.setAccountPassword(exchange.password);
}

std::string pickUpHost(const std::string& baseUrl) {
    try {
        const Poco::URI uri(baseUrl);
        if (uri.getHost().empty())
            return {};
        return uri.getPort() == 80 ? uri.getHost()
                                   : uri.getHost() + ":" + std::to_string(uri.getPort());
    } catch (const Poco::Exception&) {
        return {};
    }
}

std::string pickUpLink(const std::string& baseUrl, const std::string& accountNumber) {
    return baseUrl + "?id=" + accountNumber;
}

SkyletClient clientFor(const Settings& settings, const std::string& password,
                       std::chrono::milliseconds timeout) {
    SkyletClient client(settings.skyletUrl(), settings.accountNumber(), password);
    client.setTimeout(timeout);
    return client;
}

}  // namespace tolvane::delivery
