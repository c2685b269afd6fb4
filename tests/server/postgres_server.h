// A private PostgreSQL server for the tests: initdb and pg_ctl into a temporary folder, on a
// free port of 127.0.0.1, stopped and removed when the object goes away. As root the server
// runs as the "postgres" user (initdb refuses root).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::test {

class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Why the server could not start (the binaries are missing, ...); empty when it runs.
    const std::string& unavailable() const { return unavailable_; }
    // A new empty database on the server; its postgresql:// address.
    std::string createDatabase(const std::string& name);

private:
    std::string runAsOwner(const std::vector<std::string>& argv);

    std::filesystem::path bin_;
    std::filesystem::path root_;
    int port_ = 0;
    bool running_ = false;
    std::string unavailable_;
};

// One server for a whole test program, started on first use and stopped after the last test.
PostgresServer& sharedPostgres();

}  // namespace tolvane::test
