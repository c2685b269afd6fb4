// A typed key/value store with the semantics of the Windows registry, kept in plain files.
//
// Each hive is a folder; each key is a folder below it; each value is one file
// "<escaped name>.value" holding a 4-byte little-endian type code followed by the value's bytes
// exactly as written (strings are UTF-16LE with their terminator, so odd-length or unterminated
// values can exist and are read as the callers' rules say). Writes replace a value file
// atomically (write a temporary file beside it, then rename). Opening a missing key fails;
// creating a key creates the missing levels; a key deleted while the program runs makes later
// writes fail, silently for callers that ignore the result.
//
// Who may read a hive is fixed whatever the process's umask: the machine hive holds settings
// every user of an installed copy needs (folders 0755, values 0644); a user's hive is that
// user's alone (folders 0700, values 0600). Folders that already exist keep their modes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::registry {

enum class Hive { CurrentUser, LocalMachine };

enum ValueType : std::uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

// The folder of a hive (platform::userHiveRoot / machineHiveRoot unless overridden).
std::filesystem::path hiveRoot(Hive hive);
// Points a hive somewhere else (tests and the hive tool); an empty path restores the default.
void setHiveRoot(Hive hive, const std::filesystem::path& root);

// UTF-16LE bytes of `utf8` with the terminating zero character, as REG_SZ values are stored.
std::vector<std::uint8_t> encodeString(std::string_view utf8);
// A REG_SZ/REG_EXPAND_SZ payload read by the strict rule: an even number of bytes ending in a
// zero character; the text up to the first zero character. Nothing otherwise.
std::optional<std::string> decodeString(std::span<const std::uint8_t> bytes);

class Key {
public:
    // Opens an existing key ("Software\\Quorrel\\tolvane"; "/" also separates levels).
    static std::optional<Key> open(Hive hive, std::string_view subkey);
    // Opens the key, creating every missing level. Fails when a level cannot be made.
    static std::optional<Key> create(Hive hive, std::string_view subkey);
    // Deletes a key with its values and subkeys.
    static bool remove(Hive hive, std::string_view subkey);

    struct Value {
        ValueType type = REG_NONE;
        std::vector<std::uint8_t> data;
    };
    std::optional<Value> query(std::string_view name) const;
    bool set(std::string_view name, ValueType type, std::span<const std::uint8_t> data) const;
    bool removeValue(std::string_view name) const;

    // Convenience forms of the Win32 rules used throughout the program.
    std::optional<std::string> queryString(std::string_view name) const;   // REG_SZ or EXPAND_SZ
    std::optional<std::uint32_t> queryDword(std::string_view name) const;  // REG_DWORD, 4 bytes
    bool setString(std::string_view name, std::string_view utf8) const;
    bool setDword(std::string_view name, std::uint32_t value) const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    Key(Hive hive, std::filesystem::path folder) : hive_(hive), folder_(std::move(folder)) {}
    std::filesystem::path valueFile(std::string_view name) const;
    Hive hive_;
    std::filesystem::path folder_;
};

}  // namespace tolvane::registry
