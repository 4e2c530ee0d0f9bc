#include "platform/end_requests.h"

#include <pthread.h>
#include <signal.h>

#include "platform/threads.h"

namespace {

// The signals that ask the program to end: Ctrl+C, kill's default, the
// terminal closing (or the session ending), Ctrl+\, and every other signal
// whose default would end the process without it being at fault (a timer, a
// user's signal, a resource limit, the power failing).
constexpr int kEndSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                               SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};

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
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&endSignals, signal);
    // Blocked here, and so in every thread started from now on (SDL's and the
    // readers): only the watcher takes them.
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    // A write to a closed pipe or socket, or past the file size limit, fails
    // with EPIPE or EFBIG instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
    return StartDetachedThread(WatchSignals);
}
