#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "platform/paths.h"
#include "platform/utf16.h"

namespace fs = std::filesystem;

namespace tolvane::registry {
namespace {

std::mutex rootsMutex;
fs::path overriddenRoots[2];

// Value names become file names: anything outside a safe set is written as %XX.
std::string escapeName(std::string_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == ' ';
        if (safe) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// "Software\\Quorrel\\tolvane" -> folder below the hive. Levels are escaped like value names, so
// a level can never climb out of the hive ("..") nor meet a value file ("x.value"); empty levels
// are skipped as Windows does.
std::optional<fs::path> keyFolder(Hive hive, std::string_view subkey) {
    fs::path folder = hiveRoot(hive);
    std::string level;
    auto flush = [&] {
        if (!level.empty())
            folder /= escapeName(level);
        level.clear();
    };
    for (char c : subkey) {
        if (c == '\\' || c == '/') {
            flush();
        } else {
            level += c;
        }
    }
    flush();
    return folder;
}

bool isDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// Who may read a hive (see the header). The modes are set explicitly after creation: the umask
// of whoever writes (an installer run with umask 077, a user with 002) must not decide them.
struct Access {
    mode_t folder;
    mode_t file;
};

Access accessOf(Hive hive) {
    return hive == Hive::LocalMachine ? Access{0755, 0644} : Access{0700, 0600};
}

// Creates every missing level of `folder` with exactly `mode`; levels that exist keep theirs.
bool makeFolders(const fs::path& folder, mode_t mode) {
    if (isDirectory(folder))
        return true;
    fs::path level;
    for (const fs::path& part : folder) {
        level /= part;
        if (::mkdir(level.c_str(), mode) != 0)
            continue;  // it exists, or cannot be made: the final check tells
        const int fd = ::open(level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            ::fchmod(fd, mode);
            ::close(fd);
        }
    }
    return isDirectory(folder);
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

fs::path hiveRoot(Hive hive) {
    {
        std::lock_guard lock(rootsMutex);
        const fs::path& o = overriddenRoots[hive == Hive::CurrentUser ? 0 : 1];
        if (!o.empty())
            return o;
    }
    return hive == Hive::CurrentUser ? platform::userHiveRoot() : platform::machineHiveRoot();
}

void setHiveRoot(Hive hive, const fs::path& root) {
    std::lock_guard lock(rootsMutex);
    overriddenRoots[hive == Hive::CurrentUser ? 0 : 1] = root;
}

std::vector<std::uint8_t> encodeString(std::string_view utf8) {
    const std::u16string wide = toUtf16(utf8);
    std::vector<std::uint8_t> bytes;
    bytes.reserve((wide.size() + 1) * 2);
    for (char16_t c : wide) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::optional<std::string> decodeString(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    if (bytes[bytes.size() - 2] != 0 || bytes[bytes.size() - 1] != 0)
        return std::nullopt;
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0)
            break;
        wide += c;
    }
    return fromUtf16(wide);
}

std::optional<Key> Key::open(Hive hive, std::string_view subkey) {
    auto folder = keyFolder(hive, subkey);
    if (!folder || !isDirectory(*folder))
        return std::nullopt;
    return Key(hive, *folder);
}

std::optional<Key> Key::create(Hive hive, std::string_view subkey) {
    auto folder = keyFolder(hive, subkey);
    if (!folder || !makeFolders(*folder, accessOf(hive).folder))
        return std::nullopt;
    return Key(hive, *folder);
}

bool Key::remove(Hive hive, std::string_view subkey) {
    auto folder = keyFolder(hive, subkey);
    // A subkey naming no level would be the hive itself: never deleted.
    if (!folder || *folder == hiveRoot(hive) || !isDirectory(*folder))
        return false;
    std::error_code ec;
    fs::remove_all(*folder, ec);
    return !ec;
}

fs::path Key::valueFile(std::string_view name) const {
    return folder_ / (escapeName(name) + ".value");
}

std::optional<Key::Value> Key::query(std::string_view name) const {
    std::ifstream in(valueFile(name), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::uint8_t header[4];
    if (!in.read(reinterpret_cast<char*>(header), 4))
        return std::nullopt;
    Value v;
    v.type = static_cast<ValueType>(header[0] | (header[1] << 8) | (header[2] << 16) |
                                    (static_cast<std::uint32_t>(header[3]) << 24));
    // Registry values are small; anything beyond 1 MiB is not one of ours.
    constexpr std::size_t kLimit = 1 << 20;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        v.data.insert(v.data.end(), buffer, buffer + in.gcount());
        if (v.data.size() > kLimit)
            return std::nullopt;
    }
    return v;
}

bool Key::set(std::string_view name, ValueType type, std::span<const std::uint8_t> data) const {
    if (!isDirectory(folder_))
        return false;
    const fs::path target = valueFile(name);
    // Unique per process and per write, so two threads writing one value never share a file.
    static std::atomic<unsigned> serial{0};
    const fs::path temp = target.string() + ".tmp" + std::to_string(getpid()) + "-" +
                          std::to_string(serial.fetch_add(1));
    const mode_t mode = accessOf(hive_).file;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    // The renamed file replaces the old value with this mode, whatever the umask made of it.
    if (::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    const std::uint8_t header[4] = {static_cast<std::uint8_t>(type & 0xFF),
                                    static_cast<std::uint8_t>((type >> 8) & 0xFF),
                                    static_cast<std::uint8_t>((type >> 16) & 0xFF),
                                    static_cast<std::uint8_t>((type >> 24) & 0xFF)};
    // The data reaches the disk before the rename, so a crash leaves the old value or the new
    // one, never an empty file.
    bool ok = writeAll(fd, header, 4) && writeAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && std::rename(temp.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

bool Key::removeValue(std::string_view name) const {
    std::error_code ec;
    return fs::remove(valueFile(name), ec);
}

std::optional<std::string> Key::queryString(std::string_view name) const {
    auto v = query(name);
    if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ))
        return std::nullopt;
    return decodeString(v->data);
}

std::optional<std::uint32_t> Key::queryDword(std::string_view name) const {
    auto v = query(name);
    if (!v || v->type != REG_DWORD || v->data.size() != 4)
        return std::nullopt;
    const auto& d = v->data;
    return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<std::uint32_t>(d[3]) << 24);
}

bool Key::setString(std::string_view name, std::string_view utf8) const {
    const auto bytes = encodeString(utf8);
    return set(name, REG_SZ, bytes);
}

bool Key::setDword(std::string_view name, std::uint32_t value) const {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
        static_cast<std::uint8_t>((value >> 16) & 0xFF), static_cast<std::uint8_t>(value >> 24)};
    return set(name, REG_DWORD, bytes);
}

}  // namespace tolvane::registry
