// Where the service keeps accounts, uploads (their bytes too) and phone reports: an SQL
// database behind one interface. SQLite is the embedded default (one file in the data folder,
// no server to run); PostgreSQL lets several skyletd instances serve one set of accounts.
//
// Every change is one transaction: an upload is stored whole or not at all, two instances never
// hand out one account number, and an account is marked expired in the same transaction that
// removes its files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skylet {

struct AccountRecord {
    std::int64_t created = 0;  // unix seconds
    std::string passwordHash;  // empty: no password
    bool expired = false;
};

struct StoredFile {
    int number = 0;
    std::string extension;    // "amr", "mmf", ...
    std::string displayName;  // the name the phone shows
    std::uintmax_t size = 0;
};

struct FileContent {
    StoredFile file;
    std::string bytes;
};

class Storage {
public:
    virtual ~Storage() = default;

    // Adds an account under `number`; false when the number is taken.
    virtual bool insertAccount(std::int64_t number, std::int64_t created,
                               const std::string& passwordHash) = 0;
    // Adds an account with its files in one transaction (importing an older data folder);
    // false when the number is taken.
    virtual bool importAccount(std::int64_t number, const AccountRecord& record,
                               const std::vector<FileContent>& files) = 0;
    virtual std::optional<AccountRecord> account(std::int64_t number) = 0;
    virtual void setPasswordHash(std::int64_t number, const std::string& passwordHash) = 0;
    // Marks the account expired and removes its files, in one transaction.
    virtual void expire(std::int64_t number) = 0;
    virtual void removeFiles(std::int64_t number) = 0;
    // Stores an upload under the account's next file number; that number.
    virtual int addFile(std::int64_t number, const std::string& extension,
                        const std::string& displayName, const std::string& bytes) = 0;
    // The account's files without their bytes, by number.
    virtual std::vector<StoredFile> files(std::int64_t number) = 0;
    // One file with its bytes (only that row is read).
    virtual std::optional<FileContent> file(std::int64_t number, int fileNumber) = 0;
    virtual void addPhoneReport(const std::string& vendor, const std::string& model,
                                std::int64_t reported) = 0;
    // The reports in the order they came.
    virtual std::vector<std::pair<std::string, std::string>> phoneReports() = 0;
    // Whether the database answers (for /healthz).
    virtual bool healthy() = 0;
    // Whether a data folder of the older layout was imported already.
    virtual bool imported() = 0;
    virtual void markImported() = 0;
};

// "sqlite:<file>" or a PostgreSQL URI ("postgresql://user@host:port/db"). Creates the tables
// when they are missing. Throws with a readable message when the database cannot be opened.
std::unique_ptr<Storage> openStorage(const std::string& database);

// The SQLite database kept in a data folder.
std::string sqliteDatabaseIn(const std::filesystem::path& dataFolder);

}  // namespace skylet
