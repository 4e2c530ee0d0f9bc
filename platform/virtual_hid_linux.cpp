// The virtual device through the kernel's uhid: one struct uhid_event per
// read or write of /dev/uhid.
#include "platform/virtual_hid.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

constexpr const char* kNode = "/dev/uhid";

bool WriteEvent(int fd, const uhid_event& event) {
    ssize_t written;
    do {
        written = write(fd, &event, sizeof event);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof event);
}

void CopyText(uint8_t* to, std::size_t size, const char* text) {
    std::strncpy(reinterpret_cast<char*>(to), text, size - 1);
}

}  // namespace

struct VirtualHid {
    std::mutex mutex;  // the device's descriptor between writers and DestroyVirtualHid
    int fd = -1;       // /dev/uhid; -1 once destroyed
    int wake = -1;     // an eventfd that InterruptVirtualHid makes readable
};

VirtualHid* CreateVirtualHid(const VirtualHidIdentity& identity, std::string* failure) {
    const int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) {
        *failure = std::string("cannot make an event descriptor: ") + std::strerror(errno);
        return nullptr;
    }
    const int fd = open(kNode, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        close(wake);
        *failure = std::string("cannot open ") + kNode + ": " + std::strerror(error) + "; ";
        if (error == ENOENT) {
            *failure += "the kernel's uhid module is not loaded (sudo modprobe uhid)";
        } else if (error == EACCES || error == EPERM) {
            *failure += "run it as root, or let your user open it (a group of its own and a udev rule)";
        } else {
            *failure += "this system offers no virtual HID devices";
        }
        return nullptr;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    CopyText(create.name, sizeof create.name, identity.name);
    CopyText(create.phys, sizeof create.phys, "tavolen-virtual-remote");
    CopyText(create.uniq, sizeof create.uniq, identity.uniq);
    create.bus = identity.bus;
    create.vendor = identity.vendor;
    create.product = identity.product;
    create.rd_size = static_cast<uint16_t>(std::min(identity.descriptorLength, sizeof create.rd_data));
    std::memcpy(create.rd_data, identity.descriptor, create.rd_size);
    if (!WriteEvent(fd, event)) {
        const int error = errno;
        *failure = std::string("cannot create a device through ") + kNode + ": " + std::strerror(error);
        close(fd);
        close(wake);
        return nullptr;
    }
    auto* hid = new VirtualHid;
    hid->fd = fd;
    hid->wake = wake;
    return hid;
}

int ReadVirtualHidOutput(VirtualHid* hid, uint8_t* buffer, std::size_t capacity) {
    uhid_event event;
    for (;;) {
        pollfd waits[2] = {{hid->fd, POLLIN, 0}, {hid->wake, POLLIN, 0}};
        const int ready = poll(waits, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
        if (waits[1].revents != 0) return 0;
        const ssize_t got = read(hid->fd, &event, sizeof event);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got < static_cast<ssize_t>(sizeof event.type)) return -1;
        if (event.type == UHID_OUTPUT) {
            const std::size_t length = std::min<std::size_t>(event.u.output.size, capacity);
            std::memcpy(buffer, event.u.output.data, length);
            return static_cast<int>(length);
        }
        // The kernel waits for an answer to these: refuse them at once.
        if (event.type != UHID_GET_REPORT && event.type != UHID_SET_REPORT) continue;
        uhid_event reply{};
        if (event.type == UHID_GET_REPORT) {
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply = {event.u.get_report.id, EIO, 0, {}};
        } else {
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply = {event.u.set_report.id, EIO};
        }
        std::lock_guard lock(hid->mutex);
        WriteEvent(hid->fd, reply);
    }
}

bool WriteVirtualHidInput(VirtualHid* hid, const uint8_t* report, std::size_t length) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(std::min<std::size_t>(length, UHID_DATA_MAX));
    std::memcpy(event.u.input2.data, report, event.u.input2.size);
    std::lock_guard lock(hid->mutex);
    return hid->fd >= 0 && WriteEvent(hid->fd, event);
}

void InterruptVirtualHid(VirtualHid* hid) {
    const uint64_t one = 1;
    if (write(hid->wake, &one, sizeof one) < 0) {
        // Nothing more to do: the counter is already set.
    }
}

void DestroyVirtualHid(VirtualHid* hid) {
    std::lock_guard lock(hid->mutex);
    if (hid->fd < 0) return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    WriteEvent(hid->fd, event);
    close(hid->fd);
    hid->fd = -1;
}
