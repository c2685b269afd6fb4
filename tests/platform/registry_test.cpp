#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

// Sets the process's umask for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(RegistryAccessTest, TheMachineHiveIsReadableByAllAndAUsersHiveStaysPrivate) {
    struct Case {
        const char* name;
        Hive hive;
        mode_t umask;
        mode_t folderMode;
        mode_t fileMode;
    };
    const Case cases[] = {
        {"machine, installer with umask 077", Hive::LocalMachine, 077, 0755, 0644},
        {"machine, umask 027", Hive::LocalMachine, 027, 0755, 0644},
        {"machine, umask 000", Hive::LocalMachine, 000, 0755, 0644},
        {"user, umask 022", Hive::CurrentUser, 022, 0700, 0600},
        {"user, umask 000", Hive::CurrentUser, 000, 0700, 0600},
        {"user, umask 077", Hive::CurrentUser, 077, 0700, 0600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        // Levels above the hive that are missing are made with the hive's modes too.
        const fs::path base = dir.path() / "etc";
        setHiveRoot(c.hive, base / "tolvane" / "registry" / "HIVE");
        {
            UmaskScope mask(c.umask);
            auto key = Key::create(c.hive, "Software\\Quorrel\\tolvane");
            ASSERT_TRUE(key);
            ASSERT_TRUE(key->setString("AppPath", "/opt/tolvane/lib/tolvane"));
            ASSERT_TRUE(key->setDword("Number", 7));
        }
        setHiveRoot(c.hive, {});

        int folders = 0;
        int files = 0;
        EXPECT_EQ(modeOf(base), c.folderMode);
        for (const auto& entry : fs::recursive_directory_iterator(base)) {
            if (entry.is_directory()) {
                ++folders;
                EXPECT_EQ(modeOf(entry.path()), c.folderMode) << entry.path();
            } else {
                ++files;
                EXPECT_EQ(modeOf(entry.path()), c.fileMode) << entry.path();
            }
        }
        EXPECT_EQ(folders, 6);  // tolvane, registry, HIVE, Software, Quorrel, tolvane
        EXPECT_EQ(files, 2);
    }
}

TEST(RegistryAccessTest, RewritingAPrivateMachineValueMakesItReadableByAll) {
    // A value left private by an earlier install becomes readable when it is written again.
    TempDir dir;
    setHiveRoot(Hive::LocalMachine, dir.path() / "HKLM");
    auto key = Key::create(Hive::LocalMachine, "Software");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setString("HomeURL", "http://old/"));
    fs::permissions(key->folder() / "HomeURL.value", fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    {
        UmaskScope mask(077);
        ASSERT_TRUE(key->setString("HomeURL", "http://new/"));
    }
    setHiveRoot(Hive::LocalMachine, {});
    EXPECT_EQ(modeOf(key->folder() / "HomeURL.value"), 0644u);
    EXPECT_EQ(key->queryString("HomeURL"), "http://new/");
}

}  // namespace
