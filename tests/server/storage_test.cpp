// The service's storage on both back ends (SQLite in a temporary folder, PostgreSQL on a private
// server started for the test), and the account rules on top of it: hashed passwords, throttled
// guesses, random account numbers, the import of an older data folder.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <thread>

#include "server/account_store.h"
#include "server/postgres_server.h"
#include "server/storage.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using skylet::Access;
namespace fs = std::filesystem;

test::PostgresServer& postgres() {
    return test::sharedPostgres();
}

// A fresh database of the back end named by the test parameter.
class StorageTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            database_ = skylet::sqliteDatabaseIn(folder_.path());
        } else {
            if (!postgres().unavailable().empty())
                GTEST_SKIP() << "no PostgreSQL server: " << postgres().unavailable();
            static int databases = 0;
            database_ = postgres().createDatabase("storage" + std::to_string(++databases));
        }
    }
    std::unique_ptr<skylet::Storage> open() { return skylet::openStorage(database_); }

    test::TempDir folder_;
    std::string database_;
};

std::string binaryBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

TEST_P(StorageTest, AccountsAndFiles) {
    auto storage = open();
    ASSERT_TRUE(storage->healthy());
    EXPECT_TRUE(storage->insertAccount(123456789, 1000, ""));
    EXPECT_FALSE(storage->insertAccount(123456789, 2000, "x"));  // taken
    EXPECT_FALSE(storage->account(42));
    storage->setPasswordHash(123456789, "hash");
    EXPECT_EQ(storage->account(123456789)->passwordHash, "hash");
    EXPECT_EQ(storage->account(123456789)->created, 1000);

    const std::string big = binaryBytes(2 * 1024 * 1024, 1);  // the largest upload, zeros too
    EXPECT_EQ(storage->addFile(123456789, "amr", "tune.amr", binaryBytes(500, 2)), 1);
    EXPECT_EQ(storage->addFile(123456789, "mmf", "Caf\xc3\xa9.mmf", big), 2);
    const auto files = storage->files(123456789);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].displayName, "Caf\xc3\xa9.mmf");
    EXPECT_EQ(files[1].size, big.size());
    const auto fetched = storage->file(123456789, 2);
    ASSERT_TRUE(fetched);
    EXPECT_TRUE(fetched->bytes == big);
    EXPECT_EQ(fetched->file.extension, "mmf");
    EXPECT_FALSE(storage->file(123456789, 3));
    EXPECT_FALSE(storage->file(1, 1));

    // Reopened, everything is still there; expiry marks and empties in one step.
    storage = open();
    EXPECT_EQ(storage->files(123456789).size(), 2u);
    storage->expire(123456789);
    EXPECT_TRUE(storage->account(123456789)->expired);
    EXPECT_TRUE(storage->files(123456789).empty());

    storage->addPhoneReport("Orvel", "X1", 5);
    storage->addPhoneReport("Varnel", "\xe2\x98\x8e", 6);
    EXPECT_EQ(storage->phoneReports(), (std::vector<std::pair<std::string, std::string>>{
                                           {"Orvel", "X1"}, {"Varnel", "\xe2\x98\x8e"}}));
}

// Writers side by side: every upload gets its own number, every account number is given once.
TEST_P(StorageTest, ConcurrentWriters) {
    auto storage = open();
    ASSERT_TRUE(storage->insertAccount(7, 0, ""));
    std::atomic<int> taken{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            try {
                auto own = open();  // as a second instance would
                for (int i = 0; i < 12; ++i)
                    own->addFile(7, "amr", std::to_string(t) + "-" + std::to_string(i),
                                 binaryBytes(1000, unsigned(t * 100 + i)));
                taken += own->insertAccount(99, 0, "") ? 1 : 0;
            } catch (const std::exception& error) {
                ADD_FAILURE() << error.what();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(taken, 1);
    const auto files = storage->files(7);
    ASSERT_EQ(files.size(), 96u);
    std::set<int> numbers;
    for (const auto& file : files)
        numbers.insert(file.number);
    EXPECT_EQ(numbers.size(), 96u);
    EXPECT_EQ(*numbers.rbegin(), 96);
}

TEST_P(StorageTest, PasswordsAreHashedAndGuessesThrottled) {
    skylet::AccountStore store(open(), std::chrono::seconds(0), skylet::AccountNumbers::Random,
                               skylet::GuessLimits{5, 8, std::chrono::seconds(3600)});
    const int id = store.createAccount();
    EXPECT_GE(id, 100000000);
    EXPECT_LE(id, 999999999);
    EXPECT_EQ(store.changePassword(id, "", "4711"), Access::Granted);
    const auto record = open()->account(id);
    EXPECT_EQ(record->passwordHash.find("4711"), std::string::npos);
    EXPECT_EQ(record->passwordHash.rfind("$argon2id$", 0), 0u) << record->passwordHash;

    EXPECT_EQ(store.check(id, "4711", "10.0.0.1"), Access::Granted);
    for (int guess = 0; guess < 5; ++guess)
        EXPECT_EQ(store.check(id, std::to_string(guess), "10.0.0.1"), Access::WrongPassword);
    // The account is closed to guesses for a while, even to the right password.
    EXPECT_EQ(store.check(id, "4711", "10.0.0.2"), Access::WrongPassword);

    // An address that guessed wrong too often is refused on other accounts too.
    const int other = store.createAccount();
    ASSERT_NE(other, id);
    store.changePassword(other, "", "secret");
    for (int guess = 0; guess < 3; ++guess)
        store.check(other, "wrong", "10.0.0.1");
    EXPECT_EQ(store.check(other, "secret", "10.0.0.1"), Access::WrongPassword);
    EXPECT_EQ(store.check(other, "secret", "10.0.0.3"), Access::Granted);
}

// A data folder of the older file layout: accounts, passwords, files, reports and expiry.
TEST_P(StorageTest, ImportsAnOlderDataFolder) {
    const fs::path data = folder_.path() / "old";
    fs::create_directories(data / "accounts/0001/files");
    fs::create_directories(data / "accounts/0002/files");
    fs::create_directories(data / "accounts/0003/files");
    std::ofstream(data / "accounts/0001/account") << "created 1700000000\npassword \n";
    std::ofstream(data / "accounts/0002/account") << "created 1700000000\npassword 34323137\n";
    std::ofstream(data / "accounts/0003/account") << "created 1700000000\npassword \n";
    std::ofstream(data / "accounts/0003/expired");
    const std::string one = binaryBytes(3000, 3), two = binaryBytes(10, 4);
    std::ofstream(data / "accounts/0001/files/1.amr", std::ios::binary) << one;
    std::ofstream(data / "accounts/0001/files/1.name") << "My Song.amr";
    std::ofstream(data / "accounts/0001/files/2.mmf", std::ios::binary) << two;
    std::ofstream(data / "accounts/0001/files/2.name") << "bad\xff.mmf";
    std::ofstream(data / "accounts/0001/files/3.amr.part") << "half";
    std::ofstream(data / "phone-reports.txt") << "Orvel\tX9\n";
    std::ofstream(data / "next-id") << "3\n";

    skylet::AccountStore store(open(), std::chrono::seconds(0), skylet::AccountNumbers::Sequential);
    EXPECT_EQ(store.importDataFolder(data), 3);
    EXPECT_EQ(store.check(1, ""), Access::Granted);
    EXPECT_EQ(store.check(2, "4217"), Access::Granted);  // stored as hex, now hashed
    EXPECT_EQ(store.check(2, ""), Access::WrongPassword);
    EXPECT_EQ(store.check(3, ""), Access::Expired);
    const auto files = store.files(1);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].displayName, "My Song.amr");
    EXPECT_EQ(files[1].displayName, "bad\xef\xbf\xbd.mmf");
    EXPECT_TRUE(store.file(1, 1)->bytes == one);
    EXPECT_TRUE(store.file(1, 2)->bytes == two);
    // Imported once; the old folder stays, renamed; new accounts never take an old number.
    EXPECT_EQ(store.importDataFolder(data), 0);
    EXPECT_TRUE(fs::exists(data / "accounts.imported/0001/files/1.amr"));
    EXPECT_EQ(store.createAccount(), 4);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, StorageTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace tolvane
