#include "pipeline/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/registry.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::registry;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

// Both hives in a fresh folder, and a home whose documents folder is named by user-dirs.dirs.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setHiveRoot(Hive::CurrentUser, root_.path() / "HKCU");
        setHiveRoot(Hive::LocalMachine, root_.path() / "HKLM");
        std::ofstream(fs::path(std::getenv("XDG_CONFIG_HOME")) / "user-dirs.dirs")
            << "# written by the test\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    }
    void TearDown() override {
        setHiveRoot(Hive::CurrentUser, {});
        setHiveRoot(Hive::LocalMachine, {});
        fs::remove(fs::path(std::getenv("XDG_CONFIG_HOME")) / "user-dirs.dirs");
    }

    static Key userKey() { return *Key::create(Hive::CurrentUser, kSettingsKey); }
    static Key machineKey() { return *Key::create(Hive::LocalMachine, kSettingsKey); }
    static std::string documentsRingtones() {
        return std::string(std::getenv("HOME")) + "/Papers/My Ringtones";
    }
    static Settings loaded() {
        Settings s;
        s.load();
        return s;
    }

    TempDir root_;
};

TEST_F(SettingsTest, FirstRunCreatesTheKeyAndUsesTheDefaults) {
    EXPECT_FALSE(Key::open(Hive::CurrentUser, kSettingsKey));
    const Settings s = loaded();
    EXPECT_TRUE(Key::open(Hive::CurrentUser, kSettingsKey));
    EXPECT_EQ(s.folder(), documentsRingtones());
    EXPECT_EQ(s.save(), 1);
    EXPECT_EQ(s.send(), 1);
    EXPECT_EQ(s.delivery(), "WAP");
    for (std::int32_t v :
         {s.vendorPosition(), s.modelPosition(), s.format(), s.carrier(), s.accountStatus()})
        EXPECT_EQ(v, 0);
    EXPECT_EQ(s.creationDateLow(), 0u);
    EXPECT_EQ(s.creationDateHigh(), 0u);
    for (const std::string& v : {s.phoneNumber(), s.email(), s.accountNumber(), s.accountPassword(),
                                 s.appPath(), s.homeUrl(), s.skyletUrl()})
        EXPECT_EQ(v, "");
    // Loading writes nothing.
    EXPECT_TRUE(fs::is_empty(Key::open(Hive::CurrentUser, kSettingsKey)->folder()));
}

TEST_F(SettingsTest, WithoutADocumentsFolderTheFolderStaysEmpty) {
    const std::string home = std::getenv("HOME");
    unsetenv("HOME");
    const Settings s = loaded();
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(s.folder(), "");
}

TEST_F(SettingsTest, EverySetterPersistsItsOneValue) {
    loaded();  // creates the key
    Settings w;
    w.setFolder("/music/out");
    w.setVendorPosition(12);
    w.setModelPosition(-3);
    w.setFormat(6);
    w.setSave(0);
    w.setSend(0);
    w.setCarrier(42);
    w.setDelivery("SMS+WAP");
    w.setPhoneNumber("5551234");
    w.setEmail("me@example.org");
    w.setAccountNumber("987654");
    w.setAccountStatus(1);
    w.setAccountPassword("sécret");
    w.setCreationDateLow(0xDEADBEEF);
    w.setCreationDateHigh(0x01D9ABCD);

    const Settings r = loaded();
    EXPECT_EQ(r.folder(), "/music/out");
    EXPECT_EQ(r.vendorPosition(), 12);
    EXPECT_EQ(r.modelPosition(), -3);
    EXPECT_EQ(r.format(), 6);
    EXPECT_EQ(r.save(), 0);
    EXPECT_EQ(r.send(), 0);
    EXPECT_EQ(r.carrier(), 42);
    EXPECT_EQ(r.delivery(), "SMS+WAP");
    EXPECT_EQ(r.phoneNumber(), "5551234");
    EXPECT_EQ(r.email(), "me@example.org");
    EXPECT_EQ(r.accountNumber(), "987654");
    EXPECT_EQ(r.accountStatus(), 1);
    EXPECT_EQ(r.accountPassword(), "sécret");
    EXPECT_EQ(r.creationDateLow(), 0xDEADBEEFu);
    EXPECT_EQ(r.creationDateHigh(), 0x01D9ABCDu);
    // Stored as the registry types the wizard has always used.
    EXPECT_EQ(userKey().query("LastUsedFolder")->type, REG_SZ);
    EXPECT_EQ(userKey().query("LastUsedFormat")->type, REG_DWORD);
}

TEST_F(SettingsTest, AnEmptyStringIsWrittenAsAnEmptyString) {
    loaded();
    Settings w;
    w.setPhoneNumber("");
    const auto v = userKey().query("LastUsedPhoneNumber");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->data, std::vector<std::uint8_t>({0, 0}));
}

TEST_F(SettingsTest, MalformedValuesReadAsTheirDefaults) {
    const Key key = userKey();
    const std::vector<std::uint8_t> unterminated = {'x', 0, 'y', 0};
    const std::vector<std::uint8_t> odd = {'x', 0, 0};
    key.setString("LastUsedDelivery", "");           // empty delivery -> "WAP"
    key.setDword("LastUsedFolder", 7);               // folder stored as a number
    key.set("LastUsedEmail", REG_SZ, unterminated);  // no terminator
    key.set("LastUsedPhoneNumber", REG_SZ, odd);     // odd length
    key.set("SkyletAccountNumber", REG_BINARY, registry::encodeString("123"));
    key.set("LastUsedFormat", REG_DWORD, std::vector<std::uint8_t>{3, 0});  // short number
    key.setString("LastUsedCarrier", "5");                                  // number stored as text
    key.setString("SkyletAccountPassword", std::string(1023, 'p'));  // fills the buffer exactly
    key.setString("LastUsedPhoneModel", "");

    const Settings s = loaded();
    EXPECT_EQ(s.delivery(), "WAP");
    EXPECT_EQ(s.folder(), documentsRingtones());
    EXPECT_EQ(s.email(), "");
    EXPECT_EQ(s.phoneNumber(), "");
    EXPECT_EQ(s.accountNumber(), "");
    EXPECT_EQ(s.format(), 0);
    EXPECT_EQ(s.carrier(), 0);
    EXPECT_EQ(s.accountPassword().size(), 1023u);

    // One character more than the 1024-character buffer holds reads as missing.
    key.setString("SkyletAccountPassword", std::string(1024, 'p'));
    EXPECT_EQ(loaded().accountPassword(), "");
}

TEST_F(SettingsTest, ExpandableStringsAreReadWithoutExpanding) {
    userKey().set("LastUsedFolder", REG_EXPAND_SZ, registry::encodeString("%HOME%/tones"));
    EXPECT_EQ(loaded().folder(), "%HOME%/tones");
}

TEST_F(SettingsTest, DeletedKeyMakesWritesDoNothingSilently) {
    Settings s = loaded();
    ASSERT_TRUE(Key::remove(Hive::CurrentUser, kSettingsKey));
    s.setFormat(5);
    s.setFolder("/elsewhere");
    EXPECT_EQ(s.format(), 5);  // the copy keeps the new values
    EXPECT_EQ(s.folder(), "/elsewhere");
    EXPECT_FALSE(Key::open(Hive::CurrentUser, kSettingsKey));  // a setter never creates the key
}

TEST_F(SettingsTest, AnUnusableHiveLeavesTheRecordAsItWas) {
    writeFile(root_.file("blocked"), {'x'});
    setHiveRoot(Hive::CurrentUser, root_.path() / "blocked");
    Settings s;
    s.setFormat(4);  // nothing to write to: silently kept in memory
    s.load();        // nothing loaded: the record keeps what it held
    EXPECT_EQ(s.format(), 4);
    EXPECT_EQ(s.folder(), "");
}

TEST_F(SettingsTest, MachineValuesAreReadOnlyWithAppPath) {
    const Key machine = machineKey();
    machine.setString("HomeURL", "http://home.example/");
    machine.setString("SkyletURL", "http://127.0.0.1:8099/");
    Settings without = loaded();
    EXPECT_EQ(without.appPath(), "");
    EXPECT_EQ(without.homeUrl(), "");  // not read when AppPath is missing
    EXPECT_EQ(without.skyletUrl(), "");

    machine.setString("AppPath", "/opt/tolvane/lib");
    const Settings with = loaded();
    EXPECT_EQ(with.appPath(), "/opt/tolvane/lib");
    EXPECT_EQ(with.homeUrl(), "http://home.example/");
    EXPECT_EQ(with.skyletUrl(), "http://127.0.0.1:8099/");
}

TEST_F(SettingsTest, AMissingMachineKeyReadsNothing) {
    const Settings s = loaded();
    EXPECT_FALSE(Key::open(Hive::LocalMachine, kSettingsKey));  // never created by the wizard
    EXPECT_EQ(s.appPath(), "");
}

TEST_F(SettingsTest, PersistenceModesDecideWhatReachesTheRegistry) {
    loaded();
    struct Case {
        Settings::Persistence mode;
        bool choicesStored;
        bool accountStored;
    };
    for (const Case c : {Case{Settings::Persistence::All, true, true},
                         Case{Settings::Persistence::AccountOnly, false, true},
                         Case{Settings::Persistence::None, false, false}}) {
        ASSERT_TRUE(Key::remove(Hive::CurrentUser, kSettingsKey));
        Settings s = loaded();
        s.setPersistence(c.mode);
        s.setFormat(3);
        s.setFolder("/batch");
        s.setAccountNumber("555");
        s.setAccountStatus(1);
        EXPECT_EQ(s.format(), 3);
        const Settings r = loaded();
        EXPECT_EQ(r.format() == 3, c.choicesStored);
        EXPECT_EQ(r.folder() == "/batch", c.choicesStored);
        EXPECT_EQ(r.accountNumber() == "555", c.accountStored);
        EXPECT_EQ(r.accountStatus() == 1, c.accountStored);
    }
}

TEST_F(SettingsTest, CopiesSeeEachOthersChangesOnlyAfterLoading) {
    Settings a = loaded();
    Settings b = loaded();
    a.setCarrier(9);
    EXPECT_EQ(b.carrier(), 0);
    b.load();
    EXPECT_EQ(b.carrier(), 9);
}

}  // namespace
