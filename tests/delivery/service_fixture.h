// A settings store of our own for tests that send: a fresh user hive, and a machine hive whose
// SkyletURL names the test's service.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/settings.h"
#include "pipeline/worker.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace tolvane::test {

class ServiceSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry::setHiveRoot(registry::Hive::CurrentUser, hives_.path() / "HKCU");
        registry::setHiveRoot(registry::Hive::LocalMachine, hives_.path() / "HKLM");
        passwordExchange() = PasswordExchange{};
    }
    void TearDown() override {
        registry::setHiveRoot(registry::Hive::CurrentUser, {});
        registry::setHiveRoot(registry::Hive::LocalMachine, {});
        passwordExchange() = PasswordExchange{};
    }

    // A settings copy loaded with the service at `skyletUrl`.
    Settings settingsFor(const std::string& skyletUrl) {
        auto machine = registry::Key::create(registry::Hive::LocalMachine, kSettingsKey);
        machine->setString("AppPath", appDir().string());
        machine->setString("SkyletURL", skyletUrl);
        Settings settings;
        settings.load();
        return settings;
    }

    // The stored settings as a fresh copy sees them.
    static Settings reloaded() {
        Settings settings;
        settings.load();
        return settings;
    }

    TempDir hives_;
};

// Records what the worker or a task shows.
class RecordingView : public ProgressView {
public:
    void setFileProgress(int) override {}
    void setOverallProgress(int percent) override {
        overall.push_back(percent);
        if (onOverall)
            onOverall(percent);
    }
    void setStatus(std::string_view text) override { statuses.emplace_back(text); }
    void setFileName(std::string_view name) override { names.emplace_back(name); }
    void postMessage(int message) override { messages.push_back(message); }

    std::vector<int> overall;
    std::vector<std::string> statuses;
    std::vector<std::string> names;
    std::vector<int> messages;
    std::function<void(int)> onOverall;
};

}  // namespace tolvane::test
