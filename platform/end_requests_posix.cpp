#include "platform/end_requests.h"

#include <pthread.h>
#include <signal.h>

#include "platform/threads.h"

namespace {

// The signals that ask the program to end: Ctrl+C, kill's default, the
// terminal closing (or the session ending) and Ctrl+\.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t endSignals;
void (*endHandler)();

// Takes the signals one at a time, outside any signal handler.
void WatchSignals() {
    for (;;) {
        int signal = 0;
        if (sigwait(&endSignals, &signal) == 0) endHandler();
    }
}

}  // namespace

bool WatchForEndRequests(void (*onEnd)()) {
    endHandler = onEnd;
    sigemptyset(&endSignals);
    for (int signal : kEndSignals) sigaddset(&endSignals, signal);
    // Blocked here, and so in every thread started from now on (SDL's and the
    // readers): only the watcher takes them.
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    // A write to a closed pipe or socket fails with EPIPE instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    return StartDetachedThread(WatchSignals);
}
