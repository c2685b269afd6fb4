// Where things live on a Linux machine: the program's own folders, the registry hives, the
// temporary folder, the user's documents folder and caches.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::platform {

// The running executable (/proc/self/exe) and its folder.
std::filesystem::path executablePath();
std::filesystem::path executableDir();

// <dir of the executable>/../etc/tolvane/registry/HKEY_LOCAL_MACHINE
std::filesystem::path machineHiveRoot();
// $XDG_CONFIG_HOME/tolvane/registry/HKEY_CURRENT_USER (default ~/.config/...)
std::filesystem::path userHiveRoot();

// The application folder: the machine-wide `AppPath` value, empty when it is missing. Run-time
// libraries (lame_enc.so, qscl.so, wmvcore.so) and the help page live there.
std::string applicationFolder();

// The "system directory": <dir of the executable>/../libexec/tolvane (the converter lives there).
std::filesystem::path systemDirectory();

// $TMPDIR when it names a folder, else /tmp; always ends with "/".
std::string temporaryFolder();

// A new empty file in the temporary folder named prefix + 4 hex digits + ".tmp", created
// exclusively so that no other process gets the same name. Empty string on failure, with the
// reason in `error` when given: EEXIST when every one of the 65536 names is taken.
std::string createTempFile(std::string_view prefix, int* error = nullptr);

// A new folder in the temporary folder named prefix + 4 hex digits, made exclusively with mode
// 0700 so that only this user can put anything in it. Its path without a trailing "/", or empty
// on failure with the reason in `error` as for createTempFile.
std::string createTempFolder(std::string_view prefix, int* error = nullptr);

// XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME/Documents; nothing when
// there is no home.
std::optional<std::string> documentsFolder();

// $XDG_CACHE_HOME/tolvane and $XDG_DATA_HOME/tolvane (defaults under the home folder).
std::filesystem::path cacheFolder();
std::filesystem::path dataFolder();

// The last path component after the last "/" (the whole text when there is none).
std::string fileNameOf(std::string_view path);

// The file name without its extension (a leading dot, as in ".hidden", is not an extension).
std::string stemOf(std::string_view path);

}  // namespace tolvane::platform
