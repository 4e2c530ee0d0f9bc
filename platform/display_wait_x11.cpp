#include "platform/display_wait.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace {

// The view's connection; set by OpenDisplayWait, used by the view's thread.
Display* waitDisplay = nullptr;

// The wake-up descriptor (an eventfd), -1 until opened. Written once by the
// view's thread before the view opens; read by every thread that wakes it.
std::atomic<int> wakeFd{-1};

}  // namespace

bool OpenDisplayWait(_XDisplay* display) {
    if (display == nullptr) return false;
    if (wakeFd.load(std::memory_order_relaxed) >= 0) return display == waitDisplay;
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return false;
    waitDisplay = display;
    wakeFd.store(fd, std::memory_order_relaxed);
    return true;
}

void WakeDisplayWait() {
    const int fd = wakeFd.load(std::memory_order_relaxed);
    if (fd < 0) return;
    // The counter only adds up; a full one (never, in practice) fails with
    // EAGAIN while a wake-up is pending anyway.
    const uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

DisplayWaitResult WaitForDisplayOrWake(bool flush) {
    // XFlush also tries a read; the look at Xlib's own queue is free.
    if (flush) XFlush(waitDisplay);
    if (XEventsQueued(waitDisplay, QueuedAlready) > 0) return DisplayWaitResult::Display;
    const int fd = wakeFd.load(std::memory_order_relaxed);
    pollfd fds[2] = {{ConnectionNumber(waitDisplay), POLLIN, 0}, {fd, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0) {
        if (errno != EINTR) return DisplayWaitResult::Failed;
    }
    if (fds[1].revents != 0) {
        uint64_t count = 0;
        while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
    // A broken connection (POLLHUP, POLLERR) counts as something to read: the
    // read that follows finds the loss and ends the program through Xlib.
    return fds[0].revents != 0 ? DisplayWaitResult::Display : DisplayWaitResult::Wake;
}
