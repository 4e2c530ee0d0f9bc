// The one decision between the main reader starting to read and the
// shutdown: a shutdown that fell between the reader's "not shut down yet?"
// and its "reading" would leave it looping on a closed handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class ReaderGate {
public:
    explicit ReaderGate(std::atomic<uint8_t>& reading) : reading_(reading) {}

    // The reader: sets reading to 1 unless the shutdown came first; false then.
    bool Open() {
        std::lock_guard lock(mutex_);
        if (shutDown_) return false;
        reading_.store(1, std::memory_order_relaxed);
        return true;
    }

    // The shutdown: sets reading to 0 for good. True the first time only.
    bool Close() {
        std::lock_guard lock(mutex_);
        if (shutDown_) return false;
        shutDown_ = true;
        reading_.store(0, std::memory_order_relaxed);
        return true;
    }

    // Whether the shutdown has come.
    bool IsClosed() {
        std::lock_guard lock(mutex_);
        return shutDown_;
    }

private:
    std::mutex mutex_;
    bool shutDown_ = false;
    std::atomic<uint8_t>& reading_;
};
