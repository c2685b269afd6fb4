#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::registry;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { setHiveRoot(Hive::CurrentUser, hive_.path() / "HKCU"); }
    void TearDown() override { setHiveRoot(Hive::CurrentUser, {}); }

    Key createdKey(std::string_view name = "Software\\Quorrel\\tolvane") {
        auto key = Key::create(Hive::CurrentUser, name);
        EXPECT_TRUE(key.has_value());
        return *key;
    }

    TempDir hive_;
};

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> v;
    for (int x : values)
        v.push_back(static_cast<std::uint8_t>(x));
    return v;
}

TEST_F(RegistryTest, OpenFailsUntilCreatedAndCreateMakesEveryLevel) {
    EXPECT_FALSE(Key::open(Hive::CurrentUser, "Software\\Quorrel\\tolvane"));
    createdKey();
    EXPECT_TRUE(Key::open(Hive::CurrentUser, "Software\\Quorrel\\tolvane"));
    EXPECT_TRUE(Key::open(Hive::CurrentUser, "Software/Quorrel"));  // "/" separates levels too
    EXPECT_TRUE(fs::is_directory(hive_.path() / "HKCU" / "Software" / "Quorrel" / "tolvane"));
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytesExactly) {
    const Key key = createdKey();
    const auto odd = bytes({'a', 0, 'b'});  // odd length, no terminator: stored as written
    ASSERT_TRUE(key.set("Odd", REG_SZ, odd));
    ASSERT_TRUE(key.set("Blob", REG_BINARY, bytes({1, 2, 3, 4})));
    ASSERT_TRUE(key.setDword("Number", 0xFFFFFFFEu));
    ASSERT_TRUE(key.setString("Text", "Grüße"));

    auto v = key.query("Odd");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, REG_SZ);
    EXPECT_EQ(v->data, odd);
    EXPECT_EQ(key.query("Blob")->type, REG_BINARY);
    EXPECT_EQ(key.queryDword("Number"), 0xFFFFFFFEu);
    EXPECT_EQ(key.queryString("Text"), "Grüße");
    EXPECT_EQ(key.query("Text")->data.size(), 12u);  // 5 UTF-16 units and the terminator
}

TEST_F(RegistryTest, StringAndNumberReadsFollowTheStrictRules) {
    const Key key = createdKey();
    struct Case {
        const char* name;
        ValueType type;
        std::vector<std::uint8_t> data;
        std::optional<std::string> asString;
        std::optional<std::uint32_t> asNumber;
    };
    const std::vector<Case> cases = {
        {"terminated", REG_SZ, bytes({'o', 0, 'k', 0, 0, 0}), "ok", std::nullopt},
        {"expand", REG_EXPAND_SZ, bytes({'%', 0, 0, 0}), "%", std::nullopt},
        {"empty", REG_SZ, bytes({0, 0}), "", std::nullopt},
        {"embedded zero", REG_SZ, bytes({'a', 0, 0, 0, 'b', 0, 0, 0}), "a", std::nullopt},
        {"odd length", REG_SZ, bytes({'a', 0, 0}), std::nullopt, std::nullopt},
        {"unterminated", REG_SZ, bytes({'a', 0, 'b', 0}), std::nullopt, std::nullopt},
        {"no bytes", REG_SZ, {}, std::nullopt, std::nullopt},
        {"binary text", REG_BINARY, bytes({'a', 0, 0, 0}), std::nullopt, std::nullopt},
        {"dword", REG_DWORD, bytes({1, 2, 0, 0}), std::nullopt, 0x0201u},
        {"short dword", REG_DWORD, bytes({1, 2}), std::nullopt, std::nullopt},
        {"long dword", REG_DWORD, bytes({1, 2, 3, 4, 5}), std::nullopt, std::nullopt},
        {"binary number", REG_BINARY, bytes({1, 0, 0, 0}), std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(key.set(c.name, c.type, c.data));
        EXPECT_EQ(key.queryString(c.name), c.asString);
        EXPECT_EQ(key.queryDword(c.name), c.asNumber);
    }
    EXPECT_FALSE(key.query("missing"));
}

TEST_F(RegistryTest, NamesNeverCollideOrLeaveTheHive) {
    const Key key = createdKey();
    ASSERT_TRUE(key.setString("a", "plain"));
    ASSERT_TRUE(key.setString("a.value", "dotted"));
    ASSERT_TRUE(key.setString("a/b\\c", "slashes"));
    EXPECT_EQ(key.queryString("a"), "plain");
    EXPECT_EQ(key.queryString("a.value"), "dotted");
    EXPECT_EQ(key.queryString("a/b\\c"), "slashes");

    // A subkey named like a value file, or one that tries to climb out, stays a plain level.
    auto sub = Key::create(Hive::CurrentUser, "Software\\Quorrel\\tolvane\\a.value");
    ASSERT_TRUE(sub);
    EXPECT_EQ(key.queryString("a.value"), "dotted");
    auto climbing = Key::create(Hive::CurrentUser, "..\\..\\escaped");
    ASSERT_TRUE(climbing);
    EXPECT_FALSE(fs::exists(hive_.path() / "escaped"));
    EXPECT_FALSE(fs::exists(hive_.path().parent_path() / "escaped"));
    EXPECT_EQ(climbing->folder(), hive_.path() / "HKCU" / "%2E%2E" / "%2E%2E" / "escaped");
}

TEST_F(RegistryTest, ReplacingAValueLeavesNoTemporaryFiles) {
    const Key key = createdKey();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(key.setDword("Counter", static_cast<std::uint32_t>(i)));
    EXPECT_EQ(key.queryDword("Counter"), 4u);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(key.folder())) {
        ++files;
        EXPECT_EQ(entry.path().extension(), ".value") << entry.path();
    }
    EXPECT_EQ(files, 1);
}

TEST_F(RegistryTest, AKeyDeletedWhileOpenRefusesLaterWrites) {
    const Key key = createdKey();
    ASSERT_TRUE(key.setDword("Before", 1));
    ASSERT_TRUE(Key::remove(Hive::CurrentUser, "Software\\Quorrel\\tolvane"));
    EXPECT_FALSE(key.setDword("After", 2));
    EXPECT_FALSE(key.query("Before"));
    EXPECT_FALSE(fs::exists(key.folder()));  // the write did not bring the key back
    EXPECT_TRUE(Key::open(Hive::CurrentUser, "Software\\Quorrel"));
}

TEST_F(RegistryTest, TheHiveItselfIsNeverRemovedAsAKey) {
    createdKey();
    EXPECT_FALSE(Key::remove(Hive::CurrentUser, ""));
    EXPECT_FALSE(Key::remove(Hive::CurrentUser, "\\"));
    EXPECT_TRUE(Key::open(Hive::CurrentUser, "Software\\Quorrel\\tolvane"));
}

TEST_F(RegistryTest, AHiveThatCannotBeMadeFailsQuietly) {
    // A plain file where the hive folder should be: nothing can be created below it.
    writeFile(hive_.file("blocked"), {'x'});
    setHiveRoot(Hive::CurrentUser, hive_.path() / "blocked");
    EXPECT_FALSE(Key::create(Hive::CurrentUser, "Software\\Quorrel\\tolvane"));
    EXPECT_FALSE(Key::open(Hive::CurrentUser, "Software"));
}

}  // namespace
