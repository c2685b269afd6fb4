// skyletd: the reference upload service. Clients create accounts, upload ringtones, wipe them
// and set passwords; phones fetch the ringtones from the pick-up page with the personal code.
// `skyletd --help` lists the options.
//
// Port 0 picks a free port; the first lines on standard error name the addresses listened on.
#include <Poco/Exception.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/TCPServer.h>
#include <Poco/ThreadPool.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "server/account_store.h"
#include "server/connection_guard.h"
#include "server/skylet_service.h"
#include "server/storage.h"

namespace {

struct Options {
    std::vector<std::string> listen;
    std::filesystem::path data;
    std::string database;  // empty: SQLite in the data folder
    skylet::ServiceConfig service;
    long expireDays = 30;
    skylet::GuardLimits limits;
    skylet::AccountNumbers numbering = skylet::AccountNumbers::Random;
    std::chrono::seconds drainTime{30};
};

const char* const kUsage = R"(usage: skyletd [OPTION]...
The Tolvane pick-up service: clients upload ringtones, phones fetch them.

  --listen ADDR:PORT        address to serve on (default 127.0.0.1:8099); may be given more
                            than once; port 0 picks a free port
  --data DIR                data folder; holds the SQLite database skylet.db (default: the
                            user's data folder /skylet); a folder of the older file layout found
                            there is imported on first start and kept as accounts.imported
  --database URI            PostgreSQL instead of SQLite, e.g.
                            postgresql://skylet@dbhost:5432/skylet; several instances may share it
  --public-url URL          the address phones reach the service under, used in QR codes
                            (default: the Host the request named)
  --relay HOST[:PORT]       the mail relay handed to clients by /getrel.ashx
  --relay-user USER         the relay's user name
  --relay-password-file F   file whose first line is the relay's password; the environment
                            variable SKYLET_RELAY_PASSWORD is read when no file is given
                            (--relay-password P still works but shows P to every user in ps)
  --expire-days N           days an account lives (default 30; 0: for ever)
  --account-numbers KIND    random (default: 100000000-999999999, so that counting finds
                            nothing) or sequential (1, 2, 3...: tests and demonstrations only)
  --max-connections N       connections served at once (default 256); beyond them a client
                            gets 503 with Retry-After
  --max-per-address N       connections one client address may hold (default 16)
  --request-timeout S       seconds for a request head to arrive (default 10)
  --drain-seconds S         on SIGTERM, seconds to let requests in flight finish (default 30)
  --help                    this text

GET /healthz answers "OK" while the database answers. SIGTERM or SIGINT stops accepting
connections, lets the requests in flight finish, and exits.
)";

std::optional<long> wholeNumber(const std::string& value, long low, long high) {
    char* end = nullptr;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || number < low || number > high)
        return std::nullopt;
    return number;
}

std::optional<std::string> firstLineOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool fail(const std::string& message) {
    std::cerr << "skyletd: " << message << "\n";
    return false;
}

// Applies one option with its value; false (with a message) when it is wrong.
bool applyOption(Options& options, const std::string& arg, const std::string& value) {
    if (arg == "--listen") {
        options.listen.push_back(value);
    } else if (arg == "--data") {
        options.data = value;
    } else if (arg == "--database") {
        if (value.rfind("postgresql://", 0) != 0 && value.rfind("postgres://", 0) != 0)
            return fail("--database takes a postgresql:// address");
        options.database = value;
    } else if (arg == "--public-url") {
        options.service.publicUrl = value.empty() || value.back() == '/' ? value : value + "/";
    } else if (arg == "--relay") {
        options.service.relayHost = value;
    } else if (arg == "--relay-user") {
        options.service.relayUser = value;
    } else if (arg == "--relay-password") {
        std::cerr << "skyletd: warning: --relay-password shows the password to every user of "
                     "this machine; use --relay-password-file or SKYLET_RELAY_PASSWORD\n";
        options.service.relayPassword = value;
    } else if (arg == "--relay-password-file") {
        const auto password = firstLineOf(value);
        if (!password)
            return fail("cannot read the relay password from " + value);
        options.service.relayPassword = *password;
    } else if (arg == "--expire-days") {
        const auto days = wholeNumber(value, 0, 100000);
        if (!days)
            return fail("--expire-days takes a whole number of days (0: never)");
        options.expireDays = *days;
    } else if (arg == "--account-numbers") {
        if (value != "random" && value != "sequential")
            return fail("--account-numbers takes random or sequential");
        options.numbering =
            value == "random" ? skylet::AccountNumbers::Random : skylet::AccountNumbers::Sequential;
    } else if (arg == "--max-connections" || arg == "--max-per-address" ||
               arg == "--request-timeout" || arg == "--drain-seconds") {
        const auto number = wholeNumber(value, 1, 100000);
        if (!number)
            return fail(arg + " takes a whole number from 1 to 100000");
        if (arg == "--max-connections")
            options.limits.maxConnections = std::size_t(*number);
        else if (arg == "--max-per-address")
            options.limits.maxPerAddress = std::size_t(*number);
        else if (arg == "--request-timeout")
            options.limits.requestTimeout = std::chrono::seconds(*number);
        else
            options.drainTime = std::chrono::seconds(*number);
    } else {
        std::cerr << "skyletd: unknown option " << arg << "\n" << kUsage;
        return false;
    }
    return true;
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
        if (!applyOption(options, arg, argv[++i]))
            return std::nullopt;
    }
    if (options.listen.empty())
        options.listen.push_back("127.0.0.1:8099");
    if (options.service.relayPassword.empty())
        if (const char* fromEnvironment = std::getenv("SKYLET_RELAY_PASSWORD"))
            options.service.relayPassword = fromEnvironment;
    if (!options.service.relayHost.empty() &&
        (options.service.relayUser.empty() || options.service.relayPassword.empty())) {
        std::cerr << "skyletd: --relay needs --relay-user and a password "
                     "(--relay-password-file or SKYLET_RELAY_PASSWORD)\n";
        return std::nullopt;
    }
    return options;
}

std::shared_ptr<skylet::AccountStore> openStore(const Options& options) {
    std::filesystem::create_directories(options.data);
    const std::string database =
        options.database.empty() ? skylet::sqliteDatabaseIn(options.data) : options.database;
    auto store = std::make_shared<skylet::AccountStore>(
        skylet::openStorage(database), std::chrono::seconds(options.expireDays * 24 * 3600),
        options.numbering);
    if (const int imported = store->importDataFolder(options.data))
        std::cerr << "skyletd: imported " << imported << " accounts from "
                  << (options.data / "accounts").string() << std::endl;
    return store;
}

int serve(const Options& options, const sigset_t& stopSignals) {
    auto store = openStore(options);
    // Every admitted connection gets a thread; refusals get a few more, and the queue never
    // drops what the guard admitted.
    const int threads = int(options.limits.maxConnections) + 80;
    Poco::ThreadPool pool(2, threads, 30);
    Poco::Net::HTTPServerParams::Ptr params(new Poco::Net::HTTPServerParams);
    params->setMaxThreads(threads);
    params->setMaxQueued(threads);
    params->setTimeout(Poco::Timespan(15, 0));
    params->setServerName("skyletd");
    auto guard = std::make_shared<skylet::ConnectionGuard>(options.limits);
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers(
        new skylet::SkyletHandlerFactory(store, options.service));

    std::vector<std::unique_ptr<Poco::Net::TCPServer>> servers;
    for (const std::string& address : options.listen) {
        Poco::Net::ServerSocket socket{Poco::Net::SocketAddress(address), 256};
        servers.push_back(skylet::makeGuardedHttpServer(guard, handlers, socket, params, pool));
        servers.back()->start();
        std::cerr << "skyletd: listening on http://" << socket.address().toString() << "/ with "
                  << (options.database.empty() ? "data in " + options.data.string()
                                               : std::string("a PostgreSQL database"))
                  << std::endl;
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // Drain: no new connections; the requests in flight finish (within the drain time), then
    // the idle keep-alive connections are closed.
    std::cerr << "skyletd: stopping; " << guard->requestsInFlight() << " requests in flight"
              << std::endl;
    for (auto& server : servers)
        server->stop();
    if (!guard->waitForIdle(options.drainTime))
        std::cerr << "skyletd: requests still in flight after the drain time are cut off"
                  << std::endl;
    guard->shutDownAll();
    pool.joinAll();
    std::cerr << "skyletd: stopped" << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options)
        return 2;

    // SIGINT and SIGTERM end the service; they are taken with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        return serve(*options, stopSignals);
    } catch (const Poco::Exception& error) {
        std::cerr << "skyletd: " << error.displayText() << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "skyletd: " << error.what() << std::endl;
    }
    return 1;
}
