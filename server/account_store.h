// The service's accounts and uploads as its requests see them: account numbers, password
// checks (hashed, compared in constant time, wrong guesses rate-limited), expiry, and the files
// an account holds. What is kept where is the storage's business (storage.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/request_parsing.h"
#include "server/storage.h"

namespace skylet {

enum class Access { Granted, UnknownAccount, Expired, WrongPassword };

enum class AccountNumbers {
    Random,      // drawn from 100000000-999999999: counting finds nothing
    Sequential,  // 1, 2, 3, ...: for tests and demonstrations only
};

// Wrong passwords allowed before a key (an account, a client address) is refused for a while;
// one more is allowed every `refill`.
struct GuessLimits {
    double perAccount = 10;
    double perAddress = 30;
    std::chrono::seconds refill{30};
};

// Counts wrong passwords per account and per client address.
class GuessThrottle {
public:
    explicit GuessThrottle(GuessLimits limits) : limits_(limits) {}
    bool refused(const std::string& key, double limit);
    void failed(const std::string& key);

private:
    struct Bucket {
        double failures = 0;
        std::chrono::steady_clock::time_point updated;
    };
    void decay(Bucket& bucket, std::chrono::steady_clock::time_point now) const;

    GuessLimits limits_;
    std::mutex mutex_;
    std::map<std::string, Bucket> buckets_;
};

class AccountStore {
public:
    // `expireAfter` of zero keeps accounts for ever.
    AccountStore(std::unique_ptr<Storage> storage, std::chrono::seconds expireAfter,
                 AccountNumbers numbering = AccountNumbers::Random,
                 GuessLimits guessLimits = GuessLimits());

    // A new account without password; its number.
    int createAccount();

    // Whether the account exists, is still alive and `password` is its password (an account
    // without password takes any). Checking an account found too old marks it expired and
    // removes its uploads. `client` is the address the request came from; while it or the
    // account has guessed wrong too often, every password is refused.
    Access check(int account, const std::string& password, const std::string& client = {});

    // Replaces the password after checking the old one.
    Access changePassword(int account, const std::string& oldPassword,
                          const std::string& newPassword, const std::string& client = {});
    Access wipe(int account, const std::string& password, const std::string& client = {});

    // Stores an upload; the caller has checked access, type and size.
    void addFile(int account, const std::string& extension, const std::string& displayName,
                 const std::string& bytes);
    std::vector<StoredFile> files(int account);
    std::optional<FileContent> file(int account, int number);

    void recordPhoneReport(const std::string& vendor, const std::string& model);
    bool healthy();

    // Imports a data folder of the older file layout (accounts/<number>/..., phone-reports.txt)
    // once; the folder is kept, renamed. The number of accounts imported.
    int importDataFolder(const std::filesystem::path& dataFolder);

private:
    Access checkRecord(int account, const std::string& password, const std::string& client,
                       bool requireExactPassword);

    std::unique_ptr<Storage> storage_;
    std::chrono::seconds expireAfter_;
    AccountNumbers numbering_;
    GuessLimits guessLimits_;
    GuessThrottle throttle_;
    std::mutex sequenceMutex_;
};

// A salted Argon2id hash of the password (libsodium's string form); empty for no password.
std::string hashPassword(const std::string& password);
// Whether `password` matches `hash`, in time that does not depend on where they differ.
bool passwordMatches(const std::string& hash, const std::string& password);

}  // namespace skylet
