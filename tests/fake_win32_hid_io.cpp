// The overlapped operations on the fake's device handles: reads, writes as
// each kind of stack takes them, cancels that end at once, late or never,
// and the watch over the memory of every operation still running.
#include "tests/fake_win32_hid_state.h"

#include <malloc.h>

extern "C" {
#include <winioctl.h>
#include <hidclass.h>
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace fakewinhid;

namespace {

FakeWinHid& fake = TheState().fake;
std::recursive_mutex& fakeMutex = TheState().mutex;

// Operations pending or ended late: operator delete looks only while > 0.
std::atomic<int> watched{0};

bool Overlaps(const void* a, std::size_t aSize, const void* b, std::size_t bSize) {
    const auto* x = static_cast<const char*>(a);
    const auto* y = static_cast<const char*>(b);
    return b != nullptr && x < y + bSize && y < x + aSize;
}

void Misuse(Operation& op, const char* what) {
    op.memoryGone = true;
    fake.misuses.push_back(std::string(what) + (op.read ? " (a read)" : " (a write)"));
}

// A call that hands over memory a running operation still owns.
void CheckUnused(const OVERLAPPED* overlapped, const void* buffer, DWORD size) {
    for (Operation& op : TheState().operations) {
        if (op.state == Operation::EndedLate && overlapped == op.overlapped) {
            op.state = Operation::Free;  // its memory serves a new operation
            --watched;
        }
        if (op.state != Operation::Pending) continue;
        if (overlapped == op.overlapped) Misuse(op, "OVERLAPPED reused while its operation runs");
        if (Overlaps(buffer, size, op.buffer, op.size)) {
            Misuse(op, "buffer reused while its operation runs");
        }
    }
}

// The system keeps an operation's status in its OVERLAPPED; the fake keeps
// there the error code that its GetOverlappedResult gives.
Operation& Start(FakeHandle& h, OVERLAPPED* overlapped, const void* buffer, DWORD size,
                 bool read) {
    overlapped->Internal = ERROR_IO_PENDING;
    overlapped->InternalHigh = 0;
    ResetEvent(overlapped->hEvent);
    for (Operation& op : TheState().operations) {
        if (op.state != Operation::Free) continue;
        op = Operation{Operation::Pending, ++TheState().serials, &h, overlapped,
                       static_cast<uint8_t*>(const_cast<void*>(buffer)), size,
                       overlapped->hEvent, read};
        ++watched;
        return op;
    }
    std::abort();  // more operations at once than any test starts
}

// Ends an operation the way the system does: result, bytes moved, event set.
void Complete(Operation& op, DWORD error, DWORD moved, bool late = false) {
    if (!op.memoryGone) {
        op.overlapped->InternalHigh = moved;
        op.overlapped->Internal = error;
        SetEvent(op.event);
    }
    if (late) {
        ++fake.endedLate;
        op.state = Operation::EndedLate;
    } else {
        op.state = Operation::Free;
        --watched;
    }
}

// Completes a pending read with the next scripted report, if it is due.
void Deliver(Operation& op, Arrival due) {
    if (op.state != Operation::Pending || fake.devices[op.handle->device].silent ||
        fake.reads.empty() || fake.reads.front().arrival != due) {
        return;
    }
    const FakeWinHidReport report = fake.reads.front();
    fake.reads.pop_front();
    if (report.arrival == Arrival::Fails) {
        Complete(op, report.error, 0);
        return;
    }
    const DWORD moved = std::min<DWORD>(static_cast<DWORD>(report.bytes.size()), op.size);
    std::memcpy(op.buffer, report.bytes.data(), moved);
    Complete(op, ERROR_SUCCESS, moved);
}

// Ends a cancelled operation when the test said it would.
void EndCancelled(Operation& op) {
    op.cancelled = true;
    if (op.read) Deliver(op, Arrival::AtCancel);
    if (op.state != Operation::Pending || fake.cancelDelayMs < 0) return;
    if (fake.cancelDelayMs == 0) {
        Complete(op, ERROR_OPERATION_ABORTED, 0);
        return;
    }
    const auto delay = std::chrono::milliseconds(fake.cancelDelayMs);
    TheState().timers.emplace_back([&op, serial = op.serial, delay] {
        std::this_thread::sleep_for(delay);
        std::lock_guard lock(fakeMutex);
        if (op.state == Operation::Pending && op.serial == serial) {
            Complete(op, ERROR_OPERATION_ABORTED, 0, true);
        }
    });
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD moved,
                         LPOVERLAPPED overlapped) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) {
        return System<decltype(&ReadFile)>("ReadFile")(handle, buffer, size, moved, overlapped);
    }
    CheckUnused(overlapped, buffer, size);
    if (fake.lost) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    Operation& op = Start(*h, overlapped, buffer, size, true);
    Deliver(op, Arrival::Waiting);
    Deliver(op, Arrival::Fails);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD moved,
                          LPOVERLAPPED overlapped) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) {
        return System<decltype(&WriteFile)>("WriteFile")(handle, buffer, size, moved, overlapped);
    }
    CheckUnused(overlapped, buffer, size);
    ++fake.writeFileCalls;
    const FakeWinHidDevice& device = fake.devices[h->device];
    const bool refused = device.stack == WriteStack::RefusesAll ||
                         (device.stack == WriteStack::RefusesShort && size < device.outputLength);
    if (refused) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    Operation& op = Start(*h, overlapped, buffer, size, false);
    if (device.stack == WriteStack::Fails) {
        Complete(op, ERROR_GEN_FAILURE, 0);
    } else if (device.stack != WriteStack::NeverEnds) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        fake.writes.push_back({std::vector<uint8_t>(bytes, bytes + size), false});
        Complete(op, ERROR_SUCCESS, size);
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI FakeCancelIoEx(HANDLE handle, LPOVERLAPPED overlapped) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) return System<decltype(&CancelIoEx)>("CancelIoEx")(handle, overlapped);
    bool found = false;
    for (Operation& op : TheState().operations) {
        if (op.state != Operation::Pending || op.handle != h || op.cancelled ||
            (overlapped != nullptr && overlapped != op.overlapped)) {
            continue;
        }
        found = true;
        EndCancelled(op);
    }
    if (!found) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    ++fake.cancels;
    return TRUE;
}

// Waiting here for an operation that may never end would hold the caller for
// good: the fake says so instead of waiting.
BOOL WINAPI FakeGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD moved,
                                    BOOL wait) {
    std::lock_guard lock(fakeMutex);
    if (Find(handle) == nullptr) {
        return System<decltype(&GetOverlappedResult)>("GetOverlappedResult")(handle, overlapped,
                                                                            moved, wait);
    }
    for (Operation& op : TheState().operations) {
        if (op.state != Operation::Pending || op.overlapped != overlapped) continue;
        if (wait) fake.misuses.push_back("unbounded wait for a running operation");
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    *moved = static_cast<DWORD>(overlapped->InternalHigh);
    const auto error = static_cast<DWORD>(overlapped->Internal);
    if (error == ERROR_SUCCESS) return TRUE;
    SetLastError(error);
    return FALSE;
}

// Memory freed under a running operation, or released after a late end.
void CheckFreed(void* memory, std::size_t size) {
    if (memory == nullptr || watched.load() == 0) return;
    std::lock_guard lock(fakeMutex);
    for (Operation& op : TheState().operations) {
        const bool holds = Overlaps(memory, size, op.overlapped, sizeof(OVERLAPPED)) ||
                           Overlaps(memory, size, op.buffer, op.size);
        if (!holds) continue;
        if (op.state == Operation::Pending && !op.memoryGone) {
            Misuse(op, "memory freed while its operation runs");
        } else if (op.state == Operation::EndedLate) {
            ++fake.releasedAfterLateEnd;
            op.state = Operation::Free;
            --watched;
        }
    }
}

}  // namespace

namespace fakewinhid {

void CancelOnClose(FakeHandle* handle) {
    for (Operation& op : TheState().operations) {
        if (op.state != Operation::Pending || op.handle != handle) continue;
        if (!op.cancelled) EndCancelled(op);
        op.handle = nullptr;
    }
}

void CheckEventClosed(HANDLE handle) {
    for (Operation& op : TheState().operations) {
        if (op.state == Operation::Pending && op.event == handle) {
            Misuse(op, "event closed while its operation runs");
        }
    }
}

void ForgetOperations() {
    for (Operation& op : TheState().operations) op = Operation{};
    watched = 0;
}

}  // namespace fakewinhid

void EndLateCancels() {
    std::vector<std::thread> timers;
    {
        std::lock_guard lock(fakeMutex);
        timers.swap(TheState().timers);
    }
    for (std::thread& timer : timers) timer.join();
}

// Every delete in the test program passes the fake's check of running
// operations first.
void operator delete(void* memory) noexcept {
    if (memory != nullptr) CheckFreed(memory, _msize(memory));
    std::free(memory);
}
void operator delete(void* memory, std::size_t size) noexcept {
    CheckFreed(memory, size);
    std::free(memory);
}

// The operations' calls, in place of the import libraries' pointers.
extern "C" {
decltype(&ReadFile) fakeImportReadFile __asm__("__imp_ReadFile") = FakeReadFile;
decltype(&WriteFile) fakeImportWriteFile __asm__("__imp_WriteFile") = FakeWriteFile;
decltype(&CancelIoEx) fakeImportCancelIoEx __asm__("__imp_CancelIoEx") = FakeCancelIoEx;
decltype(&GetOverlappedResult) fakeImportGetOverlappedResult __asm__(
    "__imp_GetOverlappedResult") = FakeGetOverlappedResult;

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD moved, LPOVERLAPPED overlapped) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr || code != IOCTL_HID_SET_OUTPUT_REPORT || overlapped == nullptr) {
        return System<decltype(&DeviceIoControl)>("DeviceIoControl")(handle, code, in, inSize, out, outSize, moved, overlapped);
    }
    CheckUnused(overlapped, in, inSize);
    Operation& op = Start(*h, overlapped, in, inSize, false);
    if (fake.setOutputReportFails) {
        Complete(op, ERROR_GEN_FAILURE, 0);
    } else if (!fake.setOutputReportNeverEnds) {
        const auto* bytes = static_cast<const uint8_t*>(in);
        fake.writes.push_back({std::vector<uint8_t>(bytes, bytes + inSize), true});
        Complete(op, ERROR_SUCCESS, 0);  // the request returns no bytes
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
decltype(&DeviceIoControl) fakeImportDeviceIoControl __asm__("__imp_DeviceIoControl") = FakeDeviceIoControl;
}
