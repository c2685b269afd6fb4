// The window bus: its fixed wire format, publishing and finding windows, posting and dispatching
// messages (with nested loops), stale tables of dead processes, the private directory; and the
// child-process layer the wizard starts the converter with.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "platform/window_bus.h"

namespace tolvane::platform {
namespace {

namespace bus = window_bus;
using namespace std::chrono_literals;

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(WindowBusWire, RecordsAndMessagesRoundTrip) {
    const bus::WindowRecord records[] = {
        {0x0000001234500001, 0, "KESSIN"},
        {0x0000001234500002, 0x0000001234500001, "a\\b\nc"},
        {0x0000001234500003, 0x0000001234500001, ""},
        {0x0000001234500004, 0, "SMAFファイルサイズ : 1.00KB"},
    };
    for (const auto& r : records)
        EXPECT_EQ(bus::parseRecord(bus::formatRecord(r)), r);
    EXPECT_EQ(bus::formatRecord(records[1]), "0000001234500002 0000001234500001 a\\\\b\\nc");

    const bus::PostedMessage messages[] = {
        {0x0000001234500001, 1075, 0, 0},
        {0x0000001234500001, 273, 1015, -1},
        {0xffffffffffffffff, 4294967295u, 18446744073709551615u, INT64_MIN},
    };
    for (const auto& m : messages)
        EXPECT_EQ(bus::parseMessage(bus::formatMessage(m)), m);
    EXPECT_EQ(bus::formatMessage(messages[1]), "0000001234500001 273 1015 -1");
}

TEST(WindowBusWire, MalformedInputIsRefused) {
    const char* datagrams[] = {
        "",
        "0000001234500001 1075 0",      // missing lparam
        "0000001234500001 1075 0 0 0",  // one too many
        "000000123450001 1075 0 0",     // 15 hex digits
        "0000001234500001 1075 0 0\n",  // trailing line break
        "0000001234500001  1075 0 0",   // double space
        "000000123450000G 1075 0 0",    // not hex
        "000000123450000A 1075 0 0",    // upper case
        "0000001234500001 -1 0 0",      // negative message
        "0000001234500001 1075 +1 0",
        "0000001234500001 99999999999 0 0",  // message out of range
        "0000001234500001 1075 0 99999999999999999999",
    };
    for (const char* d : datagrams)
        EXPECT_FALSE(bus::parseMessage(d)) << d;

    const char* lines[] = {
        "",
        "0000001234500001",
        "0000001234500001 0000000000000000",  // no text separator
        "0000001234500001 0000000000000000 bad\\escape",
        "0000001234500001 0000000000000000 dangling\\",
        "0000000000000000 0000000000000000 null handle",
    };
    for (const char* l : lines)
        EXPECT_FALSE(bus::parseRecord(l)) << l;
}

TEST(WindowBus, AFolderThatIsNotPrivateIsReplacedByAPrivateOne) {
    const auto standard = bus::directory();
    ASSERT_TRUE(standard);
    struct stat st {};
    ASSERT_EQ(::stat(standard->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Open to others (as when another user made it first): never used, a private one instead,
    // the same for every call of the process, and handed to converters through the environment.
    ::chmod(standard->c_str(), 0777);
    const auto replaced = bus::directory();
    ASSERT_TRUE(replaced);
    EXPECT_NE(*replaced, *standard);
    EXPECT_TRUE(replaced->string().starts_with(standard->string() + "-"));
    ASSERT_EQ(::lstat(replaced->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(bus::directory(), replaced);
    EXPECT_EQ(bus::directoryEnvironment(), "TOLVANE_WINDOW_BUS=" + replaced->string());
    {
        bus::WindowOwner owner;
        const WindowHandle main = owner.create(0, "KESSIN");
        EXPECT_EQ(bus::findWindow("KESSIN"), main);
        EXPECT_TRUE(std::filesystem::exists(*replaced / (std::to_string(::getpid()) + ".sock")));
        EXPECT_TRUE(std::filesystem::is_empty(*standard));
    }
    // A folder handed over is used only while it is private.
    ::setenv(bus::kDirectoryVariable, replaced->c_str(), 1);
    ::chmod(standard->c_str(), 0700);
    EXPECT_EQ(bus::directory(), replaced);
    ::chmod(replaced->c_str(), 0755);
    EXPECT_EQ(bus::directory(), standard);
    ::chmod(replaced->c_str(), 0700);
    ::unsetenv(bus::kDirectoryVariable);
    EXPECT_EQ(bus::directory(), standard);
}

TEST(WindowBus, EntriesOfProcessesThatAreGoneAreSwept) {
    auto child = ChildProcess::start("/bin/true");
    ASSERT_TRUE(child);
    const pid_t dead = child->pid();
    ASSERT_TRUE(child->waitFor(5s));
    const auto dir = *bus::directory();
    const std::string gone = std::to_string(dead);
    const std::string alive = std::to_string(::getppid());
    for (const std::string& name :
         {gone + ".sock", gone + ".windows", gone + ".windows.new", alive + ".sock",
          alive + ".windows", std::string("KESSININSTANCE.lock")})
        std::ofstream(dir / name) << "";
    bus::sweepStaleEntries();
    for (const char* suffix : {".sock", ".windows", ".windows.new"})
        EXPECT_FALSE(std::filesystem::exists(dir / (gone + suffix))) << suffix;
    for (const std::string& name :
         {alive + ".sock", alive + ".windows", std::string("KESSININSTANCE.lock")}) {
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
        std::filesystem::remove(dir / name);
    }
}

TEST(WindowBus, TheLockHolderLeavesANoteForItsWaiters) {
    EXPECT_EQ(bus::NamedLock::note("NOTED"), "");
    auto lock = bus::NamedLock::tryAcquire("NOTED");
    ASSERT_TRUE(lock);
    lock->setNote("1234 first turn");
    lock->setNote("1234 2");
    EXPECT_EQ(bus::NamedLock::note("NOTED"), "1234 2");
}

TEST(WindowBus, OwnerPublishesWindowsThatClientsFindAndCommand) {
    bus::WindowOwner owner;
    std::vector<bus::PostedMessage> received;
    const WindowHandle main =
        owner.create(0, "KESSIN", [&](const bus::PostedMessage& m) { received.push_back(m); });
    const WindowHandle ok = owner.create(main, "OK");
    const WindowHandle fs4k = owner.create(main, "fs4k");
    EXPECT_EQ(bus::ownerOf(main), ::getpid());

    const auto table = slurp(*bus::directory() / (std::to_string(::getpid()) + ".windows"));
    std::ostringstream expected;
    expected << bus::formatRecord({main, 0, "KESSIN"}) << '\n'
             << bus::formatRecord({ok, main, "OK"}) << '\n'
             << bus::formatRecord({fs4k, main, "fs4k"}) << '\n';
    EXPECT_EQ(table, expected.str());

    EXPECT_EQ(bus::findWindow("KESSIN"), main);
    EXPECT_EQ(bus::findWindow("KESSI"), 0u);  // exact text only
    EXPECT_EQ(bus::findWindow("OK"), 0u);     // top-level windows only
    EXPECT_EQ(bus::childWindows(main), (std::vector<WindowHandle>{ok, fs4k}));
    EXPECT_EQ(bus::parentOf(fs4k), main);
    owner.setText(fs4k, "fs4k on");
    EXPECT_EQ(bus::windowText(fs4k), "fs4k on");

    ASSERT_TRUE(bus::postMessage(main, 273, 1, -5));
    ASSERT_TRUE(bus::postMessage(ok, 273, 2, 0));  // a window without a handler: dropped
    ASSERT_TRUE(bus::postMessage(main, 1075));
    while (owner.dispatchOne(100)) {
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (bus::PostedMessage{main, 273, 1, -5}));
    EXPECT_EQ(received[1].message, 1075u);

    owner.destroy(main);
    EXPECT_FALSE(bus::windowText(ok));  // children go with their parent
    EXPECT_EQ(bus::findWindow("KESSIN"), 0u);
}

TEST(WindowBus, GarbageDatagramsAndMessagesForDeadWindowsAreDropped) {
    bus::WindowOwner owner;
    int calls = 0;
    const WindowHandle w = owner.create(0, "w", [&](const bus::PostedMessage&) { ++calls; });
    const WindowHandle gone = owner.create(0, "gone", [&](const bus::PostedMessage&) { ++calls; });
    ASSERT_TRUE(bus::postMessage(gone, 1));
    owner.destroy(gone);

    const auto socketPath = *bus::directory() / (std::to_string(::getpid()) + ".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    for (const std::string& junk : {std::string("hello"), std::string(5000, 'x'), std::string()}) {
        ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&address),
                 sizeof address);
    }
    ::close(fd);
    ASSERT_TRUE(bus::postMessage(w, 1));
    while (owner.dispatchOne(100)) {
    }
    EXPECT_EQ(calls, 1);
}

TEST(WindowBus, NestedModalLoopKeepsDispatchingEveryWindow) {
    bus::WindowOwner owner;
    bool dialogEnded = false, mainEnded = false;
    std::vector<std::string> order;
    WindowHandle dialog = 0;
    const WindowHandle main = owner.create(0, "main", [&](const bus::PostedMessage& m) {
        order.push_back("main " + std::to_string(m.message));
        if (m.message == 1075) {
            dialog = owner.create(0, "dialog", [&](const bus::PostedMessage& d) {
                order.push_back("dialog " + std::to_string(d.message));
                if (d.message == 2)
                    dialogEnded = true;
            });
            bus::postMessage(main, 7);  // handled by the nested loop
            bus::postMessage(dialog, 2);
            owner.runUntil([&] { return dialogEnded; });
            owner.destroy(dialog);
            order.push_back("conversion done");
        }
        if (m.message == 1)
            mainEnded = true;
    });
    bus::postMessage(main, 1075);
    bus::postMessage(main, 1);
    owner.runUntil([&] { return mainEnded; });
    // The nested loop dispatches what was already queued for the main window, too; the outer
    // loop notices the main window's end only once the handler has returned.
    EXPECT_EQ(order, (std::vector<std::string>{"main 1075", "main 1", "main 7", "dialog 2",
                                               "conversion done"}));
}

TEST(WindowBus, TablesOfDeadProcessesAreIgnoredAndRemoved) {
    auto child = ChildProcess::start("/bin/true");
    ASSERT_TRUE(child);
    const pid_t dead = child->pid();
    ASSERT_TRUE(child->waitFor(5s));
    const auto dir = *bus::directory();
    const auto table = dir / (std::to_string(dead) + ".windows");
    std::ofstream(table) << bus::formatRecord({WindowHandle(dead) << 20 | 1, 0, "KESSIN"}) << '\n';
    std::ofstream(dir / (std::to_string(dead) + ".sock")) << "";
    bus::WindowOwner owner;
    const WindowHandle mine = owner.create(0, "KESSIN");

    EXPECT_EQ(bus::findWindow("KESSIN"), mine);
    EXPECT_FALSE(std::filesystem::exists(table));
    EXPECT_FALSE(std::filesystem::exists(dir / (std::to_string(dead) + ".sock")));
}

TEST(WindowBus, NamedLockIsHeldByOneOwnerAtATime) {
    auto first = bus::NamedLock::tryAcquire("TESTLOCK");
    ASSERT_TRUE(first);
    // flock locks belong to the open file: a second open in this process is refused as well.
    EXPECT_FALSE(bus::NamedLock::tryAcquire("TESTLOCK"));
    first.reset();
    EXPECT_TRUE(bus::NamedLock::tryAcquire("TESTLOCK"));
}

TEST(WindowBus, ChangeWatchWakesWhenWindowsArePublishedOrRemoved) {
    bus::ChangeWatch watch;
    ASSERT_TRUE(watch.watching());
    EXPECT_FALSE(watch.wait(20ms));  // nothing changed

    // Another process's windows: its table appears, then goes with it.
    auto child = ChildProcess::start("/bin/sh", {"-c", "sleep 0.2"});
    ASSERT_TRUE(child);
    const auto table = *bus::directory() / (std::to_string(child->pid()) + ".windows");
    std::thread publisher(
        [&] {
            std::this_thread::sleep_for(50ms);
            const auto temporary = table.string() + ".new";
            std::ofstream(temporary)
                << bus::formatRecord({WindowHandle(child->pid()) << 20 | 1, 0, "KESSIN"}) << '\n';
            std::filesystem::rename(temporary, table);
        });
    // Woken by the publication, not by the time-out.
    EXPECT_TRUE(watch.wait(10s));
    publisher.join();
    EXPECT_EQ(bus::findWindow("KESSIN", child->pid()), WindowHandle(child->pid()) << 20 | 1);
    ASSERT_TRUE(child->waitFor(10s));
    bus::removeEntriesOf(child->pid());
    EXPECT_TRUE(watch.wait(10s));
    EXPECT_FALSE(std::filesystem::exists(table));
}

TEST(ChildProcess, ExitCodesTimeOutsAndTermination) {
    auto quick = ChildProcess::start("/bin/sh", {"-c", "exit 3"});
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->waitFor(5s), 3);

    auto slow = ChildProcess::start("/bin/sleep", {"30"});
    ASSERT_TRUE(slow);
    const pid_t pid = slow->pid();
    EXPECT_FALSE(slow->waitFor(50ms));
    EXPECT_TRUE(slow->running());
    slow->terminate();
    EXPECT_EQ(slow->exitCode(), ChildProcess::kTerminatedExitCode);
    EXPECT_EQ(::kill(pid, 0), -1);  // reaped, not a zombie
    EXPECT_EQ(errno, ESRCH);

    pid_t abandoned;
    {
        auto left = ChildProcess::start("/bin/sleep", {"30"});
        ASSERT_TRUE(left);
        abandoned = left->pid();
    }
    EXPECT_EQ(::kill(abandoned, 0), -1);

    int error = 0;
    EXPECT_FALSE(ChildProcess::start("/nonexistent/program", {}, &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(ChildProcess, InheritsNoDescriptorsAndGetsTheEnvironmentItIsGiven) {
    // A pipe this process leaves open across exec, as a caller's captured output would be.
    int leaked[2];
    ASSERT_EQ(::pipe(leaked), 0);
    auto child = ChildProcess::start("/bin/sleep", {"30"}, nullptr, {"HANDED=the bus"});
    ::close(leaked[0]);
    ::close(leaked[1]);
    ASSERT_TRUE(child);
    const std::filesystem::path proc = "/proc/" + std::to_string(child->pid());
    // Until sleep runs: its table of descriptors and its environment are then final.
    const auto sleeping = [&] {
        std::ifstream stat(proc / "stat");
        std::string fields;
        std::getline(stat, fields);
        return fields.find("(sleep) S") != std::string::npos;
    };
    for (int i = 0; i < 500 && !sleeping(); ++i)
        std::this_thread::sleep_for(10ms);
    std::map<std::string, std::string> descriptors;
    for (const auto& e : std::filesystem::directory_iterator(proc / "fd"))
        descriptors[e.path().filename()] = std::filesystem::read_symlink(e.path());
    EXPECT_EQ(descriptors, (std::map<std::string, std::string>{
                               {"0", "/dev/null"}, {"1", "/dev/null"}, {"2", "/dev/null"}}));
    std::ifstream variables(proc / "environ", std::ios::binary);
    std::vector<std::string> environment;
    for (std::string entry; std::getline(variables, entry, '\0');)
        if (entry.starts_with("HANDED=") || entry.starts_with("XDG_RUNTIME_DIR="))
            environment.push_back(entry);
    EXPECT_EQ(environment, (std::vector<std::string>{
                               std::string("XDG_RUNTIME_DIR=") + std::getenv("XDG_RUNTIME_DIR"),
                               "HANDED=the bus"}));
    child->terminate();
}

}  // namespace
}  // namespace tolvane::platform
