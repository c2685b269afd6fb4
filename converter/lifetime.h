// kessin lives no longer than the program that started it: a driver that dies (killed, crashed)
// must not leave a converter waiting for messages for ever, holding the instance lock and the
// driver's output streams. A stop signal (SIGTERM, SIGHUP, SIGINT) ends it the same orderly way,
// so its windows leave the bus.
#pragma once

namespace kessin {

// Called first in main: remembers the parent, asks the kernel for SIGTERM when it dies and turns
// the stop signals into a stop request. False when the parent is already gone.
bool bindToParent();

// True once the program should end: a stop signal arrived or the parent it started with is gone.
bool stopRequested();

// How often a waiting message loop looks at stopRequested().
constexpr int kStopPollMs = 200;

}  // namespace kessin
