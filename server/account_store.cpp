#include "server/account_store.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "server/request_parsing.h"

namespace skylet {
namespace fs = std::filesystem;
namespace {

constexpr int kFirstRandomAccount = 100'000'000;
constexpr int kLastRandomAccount = 999'999'999;
// Argon2id cost: about 20 ms and 16 MiB a check on this kind of machine, so that a stolen
// database gives up its passwords slowly while a busy service still checks hundreds a second.
constexpr unsigned long long kHashOperations = 2;
constexpr std::size_t kHashMemory = 16u << 20;

std::int64_t now() {
    return std::int64_t(std::time(nullptr));
}

void initialiseSodium() {
    static const int ready = sodium_init();
    if (ready < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string fromHex(const std::string& hex) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            break;
        out += char(hi * 16 + lo);
    }
    return out;
}

// One account folder of the older layout: its record and files.
std::optional<std::pair<AccountRecord, std::vector<FileContent>>> readOldAccount(
    const fs::path& folder) {
    std::ifstream in(folder / "account");
    if (!in)
        return std::nullopt;
    AccountRecord record;
    std::string key, value;
    while (in >> key) {
        std::getline(in, value);
        if (!value.empty() && value[0] == ' ')
            value.erase(0, 1);
        if (key == "created")
            record.created = std::atoll(value.c_str());
        else if (key == "password")
            record.passwordHash = hashPassword(fromHex(value));
    }
    record.expired = fs::exists(folder / "expired");
    std::vector<FileContent> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder / "files", ec)) {
        const fs::path& path = entry.path();
        const std::string ext = path.extension().string();
        if (ext == ".name" || ext == ".part" || ext.empty() || record.expired)
            continue;
        FileContent content;
        content.file.number = std::atoi(path.stem().c_str());
        content.file.extension = ext.substr(1);
        content.file.displayName =
            cleanText(readWhole(folder / "files" / (path.stem().string() + ".name")), 120);
        content.bytes = readWhole(path);
        content.file.size = content.bytes.size();
        if (content.file.number > 0)
            files.push_back(std::move(content));
    }
    std::sort(files.begin(), files.end(), [](const FileContent& a, const FileContent& b) {
        return a.file.number < b.file.number;
    });
    return std::pair{record, files};
}

}  // namespace

std::string hashPassword(const std::string& password) {
    if (password.empty())
        return {};
    initialiseSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), kHashOperations, kHashMemory) !=
        0)
        throw std::runtime_error("out of memory hashing a password");
    return hash;
}

bool passwordMatches(const std::string& hash, const std::string& password) {
    initialiseSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void GuessThrottle::decay(Bucket& bucket, std::chrono::steady_clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    bucket.failures = std::max(0.0, bucket.failures - elapsed / double(limits_.refill.count()));
    bucket.updated = now;
}

bool GuessThrottle::refused(const std::string& key, double limit) {
    std::lock_guard lock(mutex_);
    auto found = buckets_.find(key);
    if (found == buckets_.end())
        return false;
    decay(found->second, std::chrono::steady_clock::now());
    if (found->second.failures <= 0) {
        buckets_.erase(found);
        return false;
    }
    // Once `limit` wrong guesses are outstanding (each decays over one refill period).
    return found->second.failures > limit - 1;
}

void GuessThrottle::failed(const std::string& key) {
    std::lock_guard lock(mutex_);
    // Bounded memory: a flood of addresses forgets the oldest counts first.
    if (buckets_.size() > 200'000)
        buckets_.clear();
    Bucket& bucket = buckets_[key];
    decay(bucket, std::chrono::steady_clock::now());
    bucket.failures += 1;
}

AccountStore::AccountStore(std::unique_ptr<Storage> storage, std::chrono::seconds expireAfter,
                           AccountNumbers numbering, GuessLimits guessLimits)
    : storage_(std::move(storage)),
      expireAfter_(expireAfter),
      numbering_(numbering),
      guessLimits_(guessLimits),
      throttle_(guessLimits) {
    initialiseSodium();
}

int AccountStore::createAccount() {
    if (numbering_ == AccountNumbers::Sequential) {
        // One instance hands out numbers in order; never reuses one.
        std::lock_guard lock(sequenceMutex_);
        for (int candidate = 1;; ++candidate)
            if (storage_->insertAccount(candidate, now(), {}))
                return candidate;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int candidate =
            int(kFirstRandomAccount +
                randombytes_uniform(kLastRandomAccount - kFirstRandomAccount + 1));
        if (storage_->insertAccount(candidate, now(), {}))
            return candidate;
    }
    throw std::runtime_error("no free account number found");
}

Access AccountStore::checkRecord(int account, const std::string& password,
                                 const std::string& client, bool requireExactPassword) {
    const auto record = storage_->account(account);
    if (!record)
        return Access::UnknownAccount;
    if (record->expired)
        return Access::Expired;
    if (expireAfter_.count() > 0 && now() - record->created > expireAfter_.count()) {
        storage_->expire(account);
        return Access::Expired;
    }
    if (record->passwordHash.empty())
        return requireExactPassword && !password.empty() ? Access::WrongPassword : Access::Granted;
    const std::string accountKey = "account " + std::to_string(account);
    const std::string clientKey = "client " + client;
    if (throttle_.refused(accountKey, guessLimits_.perAccount) ||
        (!client.empty() && throttle_.refused(clientKey, guessLimits_.perAddress)))
        return Access::WrongPassword;
    if (passwordMatches(record->passwordHash, password))
        return Access::Granted;
    throttle_.failed(accountKey);
    if (!client.empty())
        throttle_.failed(clientKey);
    return Access::WrongPassword;
}

Access AccountStore::check(int account, const std::string& password, const std::string& client) {
    return checkRecord(account, password, client, false);
}

Access AccountStore::changePassword(int account, const std::string& oldPassword,
                                    const std::string& newPassword, const std::string& client) {
    // An account with a password needs the right old one; one without takes an empty old one.
    const Access access = checkRecord(account, oldPassword, client, true);
    if (access == Access::Granted)
        storage_->setPasswordHash(account, hashPassword(newPassword));
    return access;
}

Access AccountStore::wipe(int account, const std::string& password, const std::string& client) {
    const Access access = checkRecord(account, password, client, false);
    if (access == Access::Granted)
        storage_->removeFiles(account);
    return access;
}

void AccountStore::addFile(int account, const std::string& extension,
                           const std::string& displayName, const std::string& bytes) {
    storage_->addFile(account, extension, displayName, bytes);
}

std::vector<StoredFile> AccountStore::files(int account) {
    return storage_->files(account);
}

std::optional<FileContent> AccountStore::file(int account, int number) {
    return storage_->file(account, number);
}

void AccountStore::recordPhoneReport(const std::string& vendor, const std::string& model) {
    storage_->addPhoneReport(vendor, model, now());
}

bool AccountStore::healthy() {
    return storage_->healthy();
}

int AccountStore::importDataFolder(const fs::path& dataFolder) {
    const fs::path accounts = dataFolder / "accounts";
    if (!fs::is_directory(accounts) || storage_->imported())
        return 0;
    int imported = 0;
    for (const auto& entry : fs::directory_iterator(accounts)) {
        const auto number = parseAccountNumber(entry.path().filename().string());
        if (!number || !entry.is_directory())
            continue;
        if (auto old = readOldAccount(entry.path()))
            imported += storage_->importAccount(*number, old->first, old->second);
    }
    std::ifstream reports(dataFolder / "phone-reports.txt");
    for (std::string line; std::getline(reports, line);) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            storage_->addPhoneReport(line.substr(0, tab), line.substr(tab + 1), 0);
    }
    storage_->markImported();
    // The old folders stay, out of the way, so that nothing is lost if the import is doubted.
    std::error_code ec;
    fs::rename(accounts, dataFolder / "accounts.imported", ec);
    fs::rename(dataFolder / "phone-reports.txt", dataFolder / "phone-reports.imported.txt", ec);
    return imported;
}

}  // namespace skylet
