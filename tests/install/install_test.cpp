// The installed copy used by someone other than the one who installed it: `cmake --install` into a
// fresh prefix by root with a restrictive umask, then `tolvane-convert` run there as `nobody`,
// making an MP3 and uploading it to a real skyletd. Everything it needs (its machine settings,
// the application folder's libraries) must be readable by every user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "delivery/local_servers.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOtherUser = "nobody";

// A folder every user can traverse (the test program's own temporary folder is private to root),
// removed with its contents at the end.
class SharedDir {
public:
    SharedDir() {
        char pattern[] = "/tmp/tolvane-install-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        fs::permissions(path_, fs::perms(0755), fs::perm_options::replace);
    }
    ~SharedDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string findRunuser() {
    for (const char* candidate : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser"}) {
        if (::access(candidate, X_OK) == 0)
            return candidate;
    }
    return test::haveTool("runuser") ? "runuser" : "";
}

// A few seconds of plucked notes over pink noise, the kind of source a user converts.
bool makeMusic(const fs::path& path) {
    const auto made =
        test::run({"sox",   "-n",          "-r",    "44100", "-c",        "2",     "-b",
                   "16",    path.string(), "synth", "4",     "pinknoise", "vol",   "0.05",
                   "synth", "4",           "pluck", "mix",   "220",       "pluck", "mix",
                   "330",   "tremolo",     "3",     "40",    "gain",      "-n",    "-3"});
    return made.status == 0;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Everything below `root` another user cannot use, or may change, one line each.
std::vector<std::string> unusableByOthers(const fs::path& root) {
    std::vector<std::string> problems;
    auto check = [&](const fs::path& path, bool folder) {
        const mode_t mode = modeOf(path);
        const bool ownerExecutes = (mode & S_IXUSR) != 0;
        const bool usable = (mode & S_IROTH) && (!(folder || ownerExecutes) || (mode & S_IXOTH));
        if (!usable || (mode & S_IWOTH)) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
            problems.push_back(std::string(octal) + " " + path.string());
        }
    };
    check(root, true);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_symlink())
            check(entry.path(), entry.is_directory());
    }
    return problems;
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "installing and running as another user needs root";
        runuser_ = findRunuser();
        if (runuser_.empty())
            GTEST_SKIP() << "runuser is missing";
        const passwd* other = ::getpwnam(kOtherUser);
        if (other == nullptr)
            GTEST_SKIP() << "there is no user '" << kOtherUser << "'";
        otherUid_ = other->pw_uid;
        otherGid_ = other->pw_gid;
        prefix_ = shared_.path() / "prefix";
    }

    // `cmake --install` of this build into the prefix, by root with umask 077.
    test::CommandResult install() const {
        return test::run({"sh", "-c", "umask 077 && exec cmake --install \"$0\" --prefix \"$1\"",
                          test::buildDir().string(), prefix_.string()});
    }

    // The installed hive tool, run like an administrator would (umask 077 again).
    test::CommandResult setMachineValue(const std::string& assignment) const {
        return test::run({"sh", "-c", "umask 077 && exec \"$0\" --root \"$1\" --set \"$2\"",
                          (prefix_ / "libexec/tolvane/tolvane-hive").string(),
                          (prefix_ / "etc/tolvane/registry").string(), assignment});
    }

    // A home of the other user's own, private to them.
    fs::path makeOtherHome() const {
        const fs::path home = shared_.path() / "home";
        for (const char* sub : {"", "config", "cache", "tmp"}) {
            fs::create_directories(home / sub);
            EXPECT_EQ(::chown((home / sub).c_str(), otherUid_, otherGid_), 0);
            fs::permissions(home / sub, fs::perms(0700), fs::perm_options::replace);
        }
        return home;
    }

    // An installed program run as the other user in that user's own environment.
    test::CommandResult runAsOther(const fs::path& home, std::vector<std::string> args) const {
        std::vector<std::string> argv = {runuser_,
                                         "-u",
                                         kOtherUser,
                                         "--",
                                         "env",
                                         "-i",
                                         "PATH=/usr/bin:/bin",
                                         "HOME=" + home.string(),
                                         "XDG_CONFIG_HOME=" + (home / "config").string(),
                                         "XDG_CACHE_HOME=" + (home / "cache").string(),
                                         "TMPDIR=" + (home / "tmp").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::run(argv);
    }

    SharedDir shared_;
    fs::path prefix_;
    std::string runuser_;
    uid_t otherUid_ = 0;
    gid_t otherGid_ = 0;
};

TEST_F(InstallTest, AnotherUserConvertsToMp3AndUploads) {
    const auto installed = install();
    ASSERT_EQ(installed.status, 0) << installed.output << installed.errors;
    test::SkyletServer skylet;
    const auto set = setMachineValue("SkyletURL=" + skylet.baseUrl());
    ASSERT_EQ(set.status, 0) << set.errors;

    EXPECT_EQ(unusableByOthers(prefix_), std::vector<std::string>{});
    // The machine hive exactly: folders 0755, values 0644.
    int values = 0;
    for (const auto& entry : fs::recursive_directory_iterator(prefix_ / "etc")) {
        const bool folder = entry.is_directory();
        values += folder ? 0 : 1;
        EXPECT_EQ(modeOf(entry.path()), folder ? 0755u : 0644u) << entry.path();
    }
    EXPECT_EQ(values, 3);  // AppPath, HomeURL, SkyletURL

    const fs::path songs = shared_.path() / "songs";
    fs::create_directories(songs);
    fs::permissions(songs, fs::perms(0755), fs::perm_options::replace);
    const fs::path song = songs / "Evening Song.wav";
    ASSERT_TRUE(makeMusic(song));
    fs::permissions(song, fs::perms(0644), fs::perm_options::replace);

    const fs::path home = makeOtherHome();
    const auto result = runAsOther(home, {(prefix_ / "bin/tolvane-convert").string(), "-f",
                                          "mp3-medium", "--send", "WAP", song.string()});
    ASSERT_EQ(result.status, 0) << result.output << result.errors;
    EXPECT_NE(result.errors.find("enter your personal code: 0001"), std::string::npos)
        << result.errors;

    // The phone's view: the pick-up page lists the ringtone and its download is an MP3.
    const std::string page = test::httpGet(skylet.baseUrl() + "?id=0001");
    EXPECT_NE(page.find(">Evening Song.mp3<"), std::string::npos) << page;
    const fs::path got = shared_.path() / "got.mp3";
    std::ofstream(got, std::ios::binary)
        << test::httpGet(skylet.baseUrl() + "get.ashx?id=0001&f=1");
    EXPECT_EQ(test::probe(got.string(), "codec_name"), "mp3");
    // The account the upload made is kept in the other user's own hive, private to them.
    const fs::path userSettings = home / "config/tolvane";
    ASSERT_TRUE(fs::exists(userSettings / "registry/HKEY_CURRENT_USER"));
    EXPECT_EQ(modeOf(userSettings), 0700u);
    for (const auto& entry : fs::recursive_directory_iterator(userSettings)) {
        EXPECT_EQ(modeOf(entry.path()), entry.is_directory() ? 0700u : 0600u) << entry.path();
    }
}

}  // namespace
}  // namespace tolvane
