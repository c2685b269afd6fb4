// skyletd: the reference upload service. Clients create accounts, upload ringtones, wipe them
// and set passwords; phones fetch the ringtones from the pick-up page with the personal code.
//
//   skyletd [--listen ADDR:PORT] [--data DIR] [--relay HOST[:PORT] --relay-user U
//            --relay-password P] [--expire-days N]
//
// Port 0 picks a free port; the first line on standard error names the address listened on.
#include <Poco/Exception.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/ThreadPool.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "platform/paths.h"
#include "server/account_store.h"
#include "server/connection_guard.h"
#include "server/skylet_service.h"

namespace {

struct Options {
    std::string listen = "127.0.0.1:8099";
    std::filesystem::path data;
    skylet::ServiceConfig service;
    long expireDays = 30;
    skylet::GuardLimits limits;
};

const char* const kUsage =
    "usage: skyletd [--listen ADDR:PORT] [--data DIR] [--relay HOST[:PORT] --relay-user U "
    "--relay-password P] [--expire-days N]\n"
    "               [--max-connections N] [--max-per-address N] [--request-timeout SECONDS]\n";

// A whole number within [low, high] from an option's value.
std::optional<long> wholeNumber(const std::string& value, long low, long high) {
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < low || number > high)
        return std::nullopt;
    return number;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    options.data = tolvane::platform::dataFolder() / "skylet";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::cerr << "skyletd: " << arg << " needs a value\n" << kUsage;
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (arg == "--listen") {
            options.listen = value;
        } else if (arg == "--data") {
            options.data = value;
        } else if (arg == "--relay") {
            options.service.relayHost = value;
        } else if (arg == "--relay-user") {
            options.service.relayUser = value;
        } else if (arg == "--relay-password") {
            options.service.relayPassword = value;
        } else if (arg == "--expire-days") {
            char* end = nullptr;
            options.expireDays = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || options.expireDays < 0) {
                std::cerr << "skyletd: --expire-days takes a whole number of days (0: never)\n";
                return std::nullopt;
            }
        } else if (arg == "--max-connections" || arg == "--max-per-address" ||
                   arg == "--request-timeout") {
            const auto number = wholeNumber(value, 1, 100000);
            if (!number) {
                std::cerr << "skyletd: " << arg << " takes a whole number from 1 to 100000\n";
                return std::nullopt;
            }
            if (arg == "--max-connections")
                options.limits.maxConnections = std::size_t(*number);
            else if (arg == "--max-per-address")
                options.limits.maxPerAddress = std::size_t(*number);
            else
                options.limits.requestTimeout = std::chrono::seconds(*number);
        } else {
            std::cerr << "skyletd: unknown option " << arg << "\n" << kUsage;
            return std::nullopt;
        }
    }
    if (!options.service.relayHost.empty() &&
        (options.service.relayUser.empty() || options.service.relayPassword.empty())) {
        std::cerr << "skyletd: --relay needs --relay-user and --relay-password\n";
        return std::nullopt;
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options)
        return 2;

    // SIGINT and SIGTERM end the service; they are taken with sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        auto store = std::make_shared<skylet::AccountStore>(
            options->data, std::chrono::seconds(options->expireDays * 24 * 3600));
        Poco::Net::ServerSocket socket{Poco::Net::SocketAddress(options->listen)};
        // Every admitted connection gets a thread; refusals get a few more, and the queue
        // never drops what the guard admitted.
        const int threads = int(options->limits.maxConnections) + 80;
        Poco::ThreadPool pool(2, threads, 30);
        Poco::Net::HTTPServerParams::Ptr params(new Poco::Net::HTTPServerParams);
        params->setMaxThreads(threads);
        params->setMaxQueued(threads);
        params->setTimeout(Poco::Timespan(15, 0));
        params->setServerName("skyletd");
        auto guard = std::make_shared<skylet::ConnectionGuard>(options->limits);
        auto server = skylet::makeGuardedHttpServer(
            guard, new skylet::SkyletHandlerFactory(store, options->service), socket, params, pool);
        server->start();
        std::cerr << "skyletd: listening on http://" << socket.address().toString()
                  << "/ with data in " << options->data.string() << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::cerr << "skyletd: stopping" << std::endl;
        server->stop();
        guard->shutDownAll();
        pool.joinAll();
    } catch (const Poco::Exception& error) {
        std::cerr << "skyletd: " << error.displayText() << std::endl;
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "skyletd: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
