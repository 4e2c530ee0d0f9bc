#include "platform/threads.h"

#include <system_error>
#include <thread>

bool StartDetachedThread(void (*body)()) {
    try {
        std::thread(body).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
