#include "server/postgres_server.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/test_support.h"

namespace tolvane::test {
namespace fs = std::filesystem;
namespace {

// The newest /usr/lib/postgresql/<version>/bin that has initdb.
fs::path postgresBinaries() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
        if (fs::exists(entry.path() / "bin/initdb"))
            found.push_back(entry.path() / "bin");
    std::sort(found.begin(), found.end());
    return found.empty() ? fs::path() : found.back();
}

int freePort() {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    return socket.address().port();
}

std::unique_ptr<PostgresServer>& sharedServer() {
    static std::unique_ptr<PostgresServer> server;
    return server;
}

// Stops the shared server after the last test, while the process can still run pg_ctl.
class StopSharedPostgres : public ::testing::Environment {
public:
    void TearDown() override { sharedServer().reset(); }
};
[[maybe_unused]] const auto* const stopSharedPostgres =
    ::testing::AddGlobalTestEnvironment(new StopSharedPostgres);

}  // namespace

PostgresServer& sharedPostgres() {
    auto& server = sharedServer();
    if (!server)
        server = std::make_unique<PostgresServer>();
    return *server;
}

std::string PostgresServer::runAsOwner(const std::vector<std::string>& argv) {
    std::vector<std::string> command = argv;
    if (geteuid() == 0)
        command.insert(command.begin(), {"runuser", "-u", "postgres", "--"});
    const CommandResult result = run(command);
    return result.status == 0 ? std::string() : result.output + result.errors;
}

PostgresServer::PostgresServer() {
    bin_ = postgresBinaries();
    if (bin_.empty()) {
        unavailable_ = "PostgreSQL is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    if (geteuid() == 0 && !getpwnam("postgres")) {
        unavailable_ = "running as root without a postgres user to run the server as";
        return;
    }
    // The server's user must reach its folder: as root the test's private TMPDIR is not
    // reachable for postgres, /tmp is.
    const fs::path temporary = geteuid() == 0 ? fs::path("/tmp") : fs::temp_directory_path();
    root_ =
        temporary / ("tolvane-pg-" + std::to_string(getpid()) + "-" + std::to_string(freePort()));
    fs::create_directories(root_);
    if (geteuid() == 0) {
        const passwd* owner = getpwnam("postgres");
        if (chown(root_.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
            unavailable_ = "cannot hand the server's folder to postgres";
            return;
        }
    }
    const std::string data = (root_ / "data").string();
    if (auto error = runAsOwner({(bin_ / "initdb").string(), "-D", data, "-U", "postgres",
                                 "--auth=trust", "--no-sync", "-E", "UTF8"});
        !error.empty()) {
        unavailable_ = "initdb failed: " + error;
        return;
    }
    port_ = freePort();
    const std::string settings = "-p " + std::to_string(port_) + " -k " + root_.string() +
                                 " -c listen_addresses=127.0.0.1 -c fsync=off "
                                 "-c max_connections=300 -c shared_buffers=32MB";
    if (auto error = runAsOwner({(bin_ / "pg_ctl").string(), "-D", data, "-o", settings, "-l",
                                 (root_ / "log").string(), "-w", "-t", "60", "start"});
        !error.empty()) {
        unavailable_ = "the server did not start: " + error;
        return;
    }
    running_ = true;
}

PostgresServer::~PostgresServer() {
    if (running_)
        runAsOwner({(bin_ / "pg_ctl").string(), "-D", (root_ / "data").string(), "-m", "immediate",
                    "-w", "stop"});
    std::error_code ec;
    if (!root_.empty())
        fs::remove_all(root_, ec);
}

std::string PostgresServer::createDatabase(const std::string& name) {
    const auto error = runAsOwner({(bin_ / "createdb").string(), "-h", "127.0.0.1", "-p",
                                   std::to_string(port_), "-U", "postgres", name});
    if (!error.empty())
        throw std::runtime_error("createdb failed: " + error);
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + name;
}

}  // namespace tolvane::test
