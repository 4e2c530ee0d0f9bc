// Merges the reader's repaint requests that come before the next paint into
// that paint, without the paint missing the newest state.
//
// The reader writes the state, then Raise(); only when no repaint was pending
// does it queue one. The painter calls Take() before it reads the state. Both
// are read-modify-writes on one flag: when Raise finds a repaint pending, the
// Take of that repaint comes after it and, acquiring what Raise released,
// reads the state Raise's caller wrote. (A plain store in Take would let the
// paint read older state while the reader's request is merged away.)
#pragma once

#include <atomic>

class RepaintLatch {
public:
    // True when the caller must queue a repaint.
    bool Raise() { return !pending_.exchange(true, std::memory_order_acq_rel); }
    // The repaint could not be queued after all: the next request queues one.
    void Cancel() { pending_.store(false, std::memory_order_release); }
    // Before painting: later requests queue a new repaint.
    void Take() { pending_.exchange(false, std::memory_order_acq_rel); }
    // Whether a repaint is asked for and not yet taken.
    bool IsRaised() const { return pending_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> pending_{false};
};
