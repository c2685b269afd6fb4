// The service's accounts and uploads, kept in its data folder:
//
//   <data>/next-id                         the last account number given out
//   <data>/accounts/<number>/account       "created <unix seconds>" and "password <hex>" lines
//   <data>/accounts/<number>/expired       present once the account has expired
//   <data>/accounts/<number>/files/<n>.<ext>   an upload, under a name the service makes
//   <data>/accounts/<number>/files/<n>.name    the name shown for it (the client's base name)
//   <data>/phone-reports.txt               reports of phones missing from the catalogue
//
// Nothing is ever written outside the data folder: the client's file names are only shown,
// never used as paths. One lock serialises every operation.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace skylet {

enum class Access { Granted, UnknownAccount, Expired, WrongPassword };

struct StoredFile {
    int number = 0;
    std::string extension;    // "amr", "mmf", ...
    std::string displayName;  // the name the phone shows
    std::uintmax_t size = 0;
};

class AccountStore {
public:
    // `expireAfter` of zero keeps accounts for ever.
    AccountStore(std::filesystem::path dataFolder, std::chrono::seconds expireAfter);

    // A new account without password; its number.
    int createAccount();

    // Whether the account exists, is still alive and `password` is its password (an account
    // without password takes any). Checking an account found too old marks it expired and
    // removes its uploads.
    Access check(int account, const std::string& password);

    // Replaces the password after checking the old one.
    Access changePassword(int account, const std::string& oldPassword,
                          const std::string& newPassword);
    Access wipe(int account, const std::string& password);

    // Stores an upload; the caller has checked access, type and size.
    void addFile(int account, const std::string& extension, const std::string& displayName,
                 const std::string& bytes);
    std::vector<StoredFile> files(int account);
    // The stored file's path, or nothing.
    std::optional<std::filesystem::path> filePath(int account, int number);

    void recordPhoneReport(const std::string& vendor, const std::string& model);

private:
    struct Record {
        std::int64_t created = 0;
        std::string password;
    };
    std::filesystem::path accountFolder(int account) const;
    std::optional<Record> readRecord(int account) const;
    void writeRecord(int account, const Record& record) const;
    Access checkLocked(int account, const std::string& password);
    void removeFilesLocked(int account);

    std::filesystem::path data_;
    std::chrono::seconds expireAfter_;
    std::mutex mutex_;
};

// An account number from the text of a request ("0007", "7"); nothing for anything else.
std::optional<int> parseAccountNumber(const std::string& text);
// "0007": the personal code as the client shows it.
std::string formatAccountNumber(int account);

}  // namespace skylet
