#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "platform/registry.h"

namespace fs = std::filesystem;

namespace tolvane::platform {
namespace {

std::optional<std::string> env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        return std::nullopt;
    return std::string(v);
}

std::optional<fs::path> home() {
    if (auto h = env("HOME"))
        return fs::path(*h);
    return std::nullopt;
}

fs::path xdgDir(const char* variable, const char* fallbackUnderHome) {
    if (auto v = env(variable); v && fs::path(*v).is_absolute())
        return fs::path(*v);
    if (auto h = home())
        return *h / fallbackUnderHome;
    return fs::path("/tmp") / ("tolvane-" + std::to_string(getuid()));
}

// Reads XDG_DOCUMENTS_DIR="$HOME/Docs" from user-dirs.dirs, expanding a leading $HOME.
std::optional<std::string> documentsFromUserDirs(const fs::path& configHome) {
    std::ifstream in(configHome / "user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) {
            auto h = home();
            if (!h)
                return std::nullopt;
            value = h->string() + value.substr(5);
        }
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return std::nullopt;
}

}  // namespace

fs::path executablePath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : p;
}

fs::path executableDir() {
    return executablePath().parent_path();
}

fs::path machineHiveRoot() {
    return (executableDir() / ".." / "etc" / "tolvane" / "registry" / "HKEY_LOCAL_MACHINE")
        .lexically_normal();
}

fs::path userHiveRoot() {
    return xdgDir("XDG_CONFIG_HOME", ".config") / "tolvane" / "registry" / "HKEY_CURRENT_USER";
}

std::string applicationFolder() {
    auto key = registry::Key::open(registry::Hive::LocalMachine, "Software\\Quorrel\\tolvane");
    if (!key)
        return {};
    return key->queryString("AppPath").value_or(std::string());
}

fs::path systemDirectory() {
    return (executableDir() / ".." / "libexec" / "tolvane").lexically_normal();
}

std::string temporaryFolder() {
    std::string dir = "/tmp";
    if (auto t = env("TMPDIR")) {
        std::error_code ec;
        if (fs::is_directory(*t, ec))
            dir = *t;
    }
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

namespace {

// Tries prefix + 4 hex digits + suffix from a random start until `make` creates one; `make`
// answers 0 or an errno value. Every name is tried once before EEXIST is reported.
template <class Make>
std::string createUniqueName(std::string_view prefix, std::string_view suffix, int* error,
                             Make make) {
    const std::string dir = temporaryFolder();
    std::random_device seed;
    std::mt19937 rng(seed() ^ static_cast<unsigned>(getpid()));
    const unsigned start = rng() & 0xFFFF;
    int result = EEXIST;
    for (unsigned k = 0; k < 0x10000; ++k) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", (start + k) & 0xFFFF);
        std::string path = dir + std::string(prefix) + hex + std::string(suffix);
        result = make(path);
        if (result == 0)
            return path;
        if (result != EEXIST)
            break;
    }
    if (error != nullptr)
        *error = result;
    return {};
}

}  // namespace

std::string createTempFile(std::string_view prefix, int* error) {
    return createUniqueName(prefix, ".tmp", error, [](const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    });
}

std::string createTempFolder(std::string_view prefix, int* error) {
    return createUniqueName(prefix, "", error, [](const std::string& path) {
        return ::mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
    });
}

std::optional<std::string> documentsFolder() {
    if (!home())
        return std::nullopt;
    if (auto d = documentsFromUserDirs(xdgDir("XDG_CONFIG_HOME", ".config")))
        return d;
    return (*home() / "Documents").string();
}

fs::path cacheFolder() {
    return xdgDir("XDG_CACHE_HOME", ".cache") / "tolvane";
}
fs::path dataFolder() {
    return xdgDir("XDG_DATA_HOME", ".local/share") / "tolvane";
}

std::string fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string stemOf(std::string_view path) {
    std::string name = fileNameOf(path);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

}  // namespace tolvane::platform
