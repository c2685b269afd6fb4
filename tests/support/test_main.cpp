// Test programs run in an isolated environment: their own config, cache, data, runtime and
// temporary folders, so no test reads or writes the developer's settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class IsolatedEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-test-XXXXXX";
        root_ = mkdtemp(pattern);
        for (const char* sub : {"config", "cache", "data", "runtime", "tmp", "home"})
            std::filesystem::create_directories(root_ / sub);
        std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        setenv("HOME", (root_ / "home").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

private:
    std::filesystem::path root_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new IsolatedEnvironment);
    return RUN_ALL_TESTS();
}
