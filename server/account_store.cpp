#include "server/account_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace skylet {
namespace fs = std::filesystem;
namespace {

std::string toHex(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
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

// Writes a file whole or not at all: a temporary file beside it, then a rename.
void writeAtomically(const fs::path& path, const std::string& bytes) {
    const fs::path temporary = path.string() + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, path);
}

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::int64_t now() {
    return std::int64_t(std::time(nullptr));
}

}  // namespace

std::optional<int> parseAccountNumber(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string formatAccountNumber(int account) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", account);
    return text;
}

AccountStore::AccountStore(fs::path dataFolder, std::chrono::seconds expireAfter)
    : data_(std::move(dataFolder)), expireAfter_(expireAfter) {
    fs::create_directories(data_ / "accounts");
}

fs::path AccountStore::accountFolder(int account) const {
    return data_ / "accounts" / formatAccountNumber(account);
}

std::optional<AccountStore::Record> AccountStore::readRecord(int account) const {
    std::ifstream in(accountFolder(account) / "account");
    if (!in)
        return std::nullopt;
    Record record;
    std::string key, value;
    while (in >> key) {
        std::getline(in, value);
        if (!value.empty() && value[0] == ' ')
            value.erase(0, 1);
        if (key == "created")
            record.created = std::atoll(value.c_str());
        else if (key == "password")
            record.password = fromHex(value);
    }
    return record;
}

void AccountStore::writeRecord(int account, const Record& record) const {
    writeAtomically(accountFolder(account) / "account",
                    "created " + std::to_string(record.created) + "\npassword " +
                        toHex(record.password) + "\n");
}

int AccountStore::createAccount() {
    std::lock_guard lock(mutex_);
    int last = 0;
    if (auto text = readWhole(data_ / "next-id"); !text.empty())
        last = std::atoi(text.c_str());
    int account = last + 1;
    // Never reuse a number, even when next-id was lost.
    while (fs::exists(accountFolder(account)))
        ++account;
    fs::create_directories(accountFolder(account) / "files");
    writeRecord(account, Record{now(), {}});
    writeAtomically(data_ / "next-id", std::to_string(account) + "\n");
    return account;
}

Access AccountStore::checkLocked(int account, const std::string& password) {
    const fs::path folder = accountFolder(account);
    if (fs::exists(folder / "expired"))
        return Access::Expired;
    const auto record = readRecord(account);
    if (!record)
        return Access::UnknownAccount;
    if (expireAfter_.count() > 0 && now() - record->created > expireAfter_.count()) {
        removeFilesLocked(account);
        writeAtomically(folder / "expired", "");
        return Access::Expired;
    }
    if (!record->password.empty() && record->password != password)
        return Access::WrongPassword;
    return Access::Granted;
}

Access AccountStore::check(int account, const std::string& password) {
    std::lock_guard lock(mutex_);
    return checkLocked(account, password);
}

Access AccountStore::changePassword(int account, const std::string& oldPassword,
                                    const std::string& newPassword) {
    std::lock_guard lock(mutex_);
    const Access access = checkLocked(account, oldPassword);
    if (access != Access::Granted)
        return access;
    Record record = *readRecord(account);
    // An account with a password needs the right old one; one without takes an empty old one.
    if (record.password != oldPassword)
        return Access::WrongPassword;
    record.password = newPassword;
    writeRecord(account, record);
    return Access::Granted;
}

Access AccountStore::wipe(int account, const std::string& password) {
    std::lock_guard lock(mutex_);
    const Access access = checkLocked(account, password);
    if (access == Access::Granted)
        removeFilesLocked(account);
    return access;
}

void AccountStore::removeFilesLocked(int account) {
    std::error_code ec;
    const fs::path files = accountFolder(account) / "files";
    fs::remove_all(files, ec);
    fs::create_directories(files, ec);
}

void AccountStore::addFile(int account, const std::string& extension,
                           const std::string& displayName, const std::string& bytes) {
    std::lock_guard lock(mutex_);
    const fs::path folder = accountFolder(account) / "files";
    fs::create_directories(folder);
    int number = 1;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".name")
            number = std::max(number, std::atoi(entry.path().stem().c_str()) + 1);
    const std::string stem = std::to_string(number);
    writeAtomically(folder / (stem + "." + extension), bytes);
    writeAtomically(folder / (stem + ".name"), displayName);
}

std::vector<StoredFile> AccountStore::files(int account) {
    std::lock_guard lock(mutex_);
    std::vector<StoredFile> list;
    const fs::path folder = accountFolder(account) / "files";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const fs::path& path = entry.path();
        const std::string ext = path.extension().string();
        if (ext == ".name" || ext == ".part" || ext.empty())
            continue;
        StoredFile file;
        file.number = std::atoi(path.stem().c_str());
        file.extension = ext.substr(1);
        file.displayName = readWhole(folder / (path.stem().string() + ".name"));
        file.size = entry.file_size(ec);
        list.push_back(file);
    }
    std::sort(list.begin(), list.end(),
              [](const StoredFile& a, const StoredFile& b) { return a.number < b.number; });
    return list;
}

std::optional<fs::path> AccountStore::filePath(int account, int number) {
    for (const StoredFile& file : files(account))
        if (file.number == number)
            return accountFolder(account) / "files" /
                   (std::to_string(number) + "." + file.extension);
    return std::nullopt;
}

void AccountStore::recordPhoneReport(const std::string& vendor, const std::string& model) {
    std::lock_guard lock(mutex_);
    std::ofstream out(data_ / "phone-reports.txt", std::ios::app);
    out << vendor << '\t' << model << '\n';
}

}  // namespace skylet
