// tolvane-hive: writes machine-wide values (AppPath, HomeURL, SkyletURL) into a machine hive.
// The build uses it for the build tree's hive, `make install` for the installed one.
//
//   tolvane-hive --root DIR --set NAME=VALUE [--set NAME=VALUE ...]
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/registry.h"

using namespace tolvane;

int main(int argc, char** argv) {
    std::string root;
    int written = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
            root = argv[++i];
            registry::setHiveRoot(registry::Hive::LocalMachine,
                                  std::filesystem::path(root) / "HKEY_LOCAL_MACHINE");
        } else if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc) {
            const std::string assignment = argv[++i];
            const auto eq = assignment.find('=');
            if (root.empty() || eq == std::string::npos) {
                std::fprintf(stderr,
                             "tolvane-hive: --root DIR must come first; --set NAME=VALUE\n");
                return 2;
            }
            auto key =
                registry::Key::create(registry::Hive::LocalMachine, "Software\\Quorrel\\tolvane");
            if (!key || !key->setString(assignment.substr(0, eq), assignment.substr(eq + 1))) {
                std::fprintf(stderr, "tolvane-hive: cannot write under %s\n", root.c_str());
                return 1;
            }
            ++written;
        } else {
            std::fprintf(stderr, "usage: tolvane-hive --root DIR --set NAME=VALUE...\n");
            return 2;
        }
    }
    return written > 0 ? 0 : 2;
}
