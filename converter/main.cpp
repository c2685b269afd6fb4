// kessin: converts the WAV or AIFF file named in its input-path slot into a SMAF file beside it,
// driven through its windows on the window bus. No command line, no output streams.
#include <cstdio>
#include <exception>

#include "converter/conversion.h"
#include "converter/dialogs.h"
#include "converter/lifetime.h"
#include "platform/window_bus.h"

int main() {
    namespace bus = tolvane::platform::window_bus;
    if (!kessin::bindToParent())
        return 0;  // started by a program that is already gone: nobody will drive it
    // A second instance leaves at once, without a window or a message.
    const auto instance = bus::NamedLock::tryAcquire("KESSININSTANCE");
    if (!instance)
        return 0;
    try {
        bus::WindowOwner owner;
        kessin::MainWindow main(
            owner, [&owner](kessin::MainWindow& window) { kessin::runConversion(window, owner); });
        main.runModal();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kessin: %s\n", e.what());
        return 1;
    }
    return 0;
}
