// The request handling of skyletd: the client's request paths with their plain-text replies,
// the phone pick-up pages and the download of stored ringtones.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>

#include <memory>
#include <mutex>
#include <string>

#include "server/account_store.h"

namespace skylet {

// The largest ringtone the service stores: exactly 2 MiB passes.
inline constexpr std::size_t kMaxRingtoneBytes = 2 * 1024 * 1024;

struct ServiceConfig {
    // The mail relay handed to clients by /getrel.ashx; empty host: no relay configured.
    std::string relayHost;
    std::string relayUser;
    std::string relayPassword;
    // The address phones reach the service under, for QR codes ("https://ring.example/");
    // empty: the Host the request named.
    std::string publicUrl;
};

class SkyletHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    SkyletHandlerFactory(std::shared_ptr<AccountStore> store, ServiceConfig config);
    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override;

private:
    std::shared_ptr<AccountStore> store_;
    ServiceConfig config_;
};

// The media type phones expect for a ringtone extension ("amr" -> "audio/amr"); empty for a
// type the service does not take.
std::string ringtoneMediaType(const std::string& extension);
// True when the bytes start the way a file of that ringtone type starts.
bool looksLike(const std::string& extension, const std::string& bytes);

}  // namespace skylet
