#include "converter/lifetime.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace kessin {
namespace {

volatile std::sig_atomic_t stopSignalled = 0;
pid_t startingParent = 0;

extern "C" void onStopSignal(int) {
    stopSignalled = 1;
}

}  // namespace

bool bindToParent() {
    startingParent = ::getppid();
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read is interrupted and the program goes on to end.
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have died before the request above was made; the kernel sends nothing then.
    return ::getppid() == startingParent;
}

bool stopRequested() {
    return stopSignalled != 0 || ::getppid() != startingParent;
}

}  // namespace kessin
