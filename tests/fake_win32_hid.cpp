#include "tests/fake_win32_hid.h"

#include <malloc.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "platform/immortal.h"

namespace {

// One handle the fake gave out; its address is the HANDLE.
struct FakeHandle {
    bool inUse = false;
    std::size_t device = 0;
    bool readWrite = false;
};

// One overlapped operation on a fake handle, from its start until the
// system would be done with its memory.
struct Operation {
    enum State { Free, Pending, EndedLate } state = Free;
    unsigned serial = 0;  // tells a late cancel which operation it ends
    FakeHandle* handle = nullptr;  // nullptr once that handle is closed
    OVERLAPPED* overlapped = nullptr;
    uint8_t* buffer = nullptr;
    DWORD size = 0;
    HANDLE event = nullptr;
    bool read = false;
    bool cancelled = false;   // a cancel was asked for
    bool memoryGone = false;  // freed or closed under it: never written again
};

// Everything lives as long as the process: operator delete below may run
// during the process's exit.
struct State {
    std::recursive_mutex mutex;
    FakeWinHid fake;
    FakeHandle handles[16];
    Operation operations[32];
    unsigned serials = 0;
    std::vector<std::thread> timers;  // late cancels
};
Immortal<State> state;
FakeWinHid& fake = state.value.fake;
std::recursive_mutex& fakeMutex = state.value.mutex;

// Operations pending or ended late: operator delete looks only while > 0.
std::atomic<int> watched{0};

// The address of this stands for the device list.
char deviceList;

FakeHandle* Find(HANDLE handle) {
    for (FakeHandle& h : state.value.handles) {
        if (h.inUse && static_cast<void*>(&h) == handle) return &h;
    }
    return nullptr;
}

template <class Function>
Function System(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

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
    for (Operation& op : state.value.operations) {
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
    for (Operation& op : state.value.operations) {
        if (op.state != Operation::Free) continue;
        op = Operation{Operation::Pending, ++state.value.serials, &h, overlapped,
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
    state.value.timers.emplace_back([&op, serial = op.serial, delay] {
        std::this_thread::sleep_for(delay);
        std::lock_guard lock(fakeMutex);
        if (op.state == Operation::Pending && op.serial == serial) {
            Complete(op, ERROR_OPERATION_ABORTED, 0, true);
        }
    });
}

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
    std::lock_guard lock(fakeMutex);
    for (std::size_t i = 0; i < fake.devices.size(); ++i) {
        if (fake.devices[i].path != path) continue;
        const bool readWrite = access != 0;
        if (readWrite) {
            fake.readWriteOpens.push_back(path);
            if (fake.devices[i].openError != 0) {
                SetLastError(fake.devices[i].openError);
                return INVALID_HANDLE_VALUE;
            }
        } else {
            ++fake.attributeHandlesOpen;
        }
        for (FakeHandle& h : state.value.handles) {
            if (h.inUse) continue;
            h = FakeHandle{true, i, readWrite};
            return &h;
        }
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    return System<decltype(&CreateFileA)>("CreateFileA")(path, access, share, security,
                                                         disposition, flags, model);
}

// Closing a device handle cancels what still runs on it, as the system does.
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) {
        for (Operation& op : state.value.operations) {
            if (op.state == Operation::Pending && op.event == handle) {
                Misuse(op, "event closed while its operation runs");
            }
        }
        return System<decltype(&CloseHandle)>("CloseHandle")(handle);
    }
    if (h->readWrite) {
        ++fake.deviceCloses;
        for (Operation& op : state.value.operations) {
            if (op.state != Operation::Pending || op.handle != h) continue;
            if (!op.cancelled) EndCancelled(op);
            op.handle = nullptr;
        }
    } else {
        --fake.attributeHandlesOpen;
    }
    *h = FakeHandle{};
    return TRUE;
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
    for (Operation& op : state.value.operations) {
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
    for (Operation& op : state.value.operations) {
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

HDEVINFO WINAPI FakeSetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) {
    std::lock_guard lock(fakeMutex);
    ++fake.listsOpen;
    return &deviceList;
}

BOOL WINAPI FakeSetupDiEnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                            PSP_DEVICE_INTERFACE_DATA data) {
    std::lock_guard lock(fakeMutex);
    if (index >= fake.devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI FakeSetupDiGetDeviceInterfaceDetailA(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                 DWORD size, PDWORD required, PSP_DEVINFO_DATA) {
    std::lock_guard lock(fakeMutex);
    const std::string& path = fake.devices[data->Reserved].path;
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required != nullptr) *required = needed;
    if (detail == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO) {
    std::lock_guard lock(fakeMutex);
    --fake.listsOpen;
    return TRUE;
}

// Memory freed under a running operation, or released after a late end.
void CheckFreed(void* memory, std::size_t size) {
    if (memory == nullptr || watched.load() == 0) return;
    std::lock_guard lock(fakeMutex);
    for (Operation& op : state.value.operations) {
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

FakeWinHid& TheFakeWinHid() { return fake; }

void EndLateCancels() {
    std::vector<std::thread> timers;
    {
        std::lock_guard lock(fakeMutex);
        timers.swap(state.value.timers);
    }
    for (std::thread& timer : timers) timer.join();
}

void ResetFakeWinHid() {
    EndLateCancels();
    std::lock_guard lock(fakeMutex);
    fake = FakeWinHid{};
    for (FakeHandle& h : state.value.handles) h = FakeHandle{};
    for (Operation& op : state.value.operations) op = Operation{};
    watched = 0;
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

// The backend reaches kernel32 and setupapi through their import pointers;
// these take the place of the import libraries' own.
extern "C" {
decltype(&CreateFileA) fakeImportCreateFileA __asm__("__imp_CreateFileA") = FakeCreateFileA;
decltype(&CloseHandle) fakeImportCloseHandle __asm__("__imp_CloseHandle") = FakeCloseHandle;
decltype(&ReadFile) fakeImportReadFile __asm__("__imp_ReadFile") = FakeReadFile;
decltype(&WriteFile) fakeImportWriteFile __asm__("__imp_WriteFile") = FakeWriteFile;
decltype(&CancelIoEx) fakeImportCancelIoEx __asm__("__imp_CancelIoEx") = FakeCancelIoEx;
decltype(&GetOverlappedResult) fakeImportGetOverlappedResult __asm__(
    "__imp_GetOverlappedResult") = FakeGetOverlappedResult;
decltype(&SetupDiGetClassDevsA) fakeImportSetupDiGetClassDevsA __asm__(
    "__imp_SetupDiGetClassDevsA") = FakeSetupDiGetClassDevsA;
decltype(&SetupDiEnumDeviceInterfaces) fakeImportSetupDiEnumDeviceInterfaces __asm__(
    "__imp_SetupDiEnumDeviceInterfaces") = FakeSetupDiEnumDeviceInterfaces;
decltype(&SetupDiGetDeviceInterfaceDetailA) fakeImportSetupDiGetDeviceInterfaceDetailA __asm__(
    "__imp_SetupDiGetDeviceInterfaceDetailA") = FakeSetupDiGetDeviceInterfaceDetailA;
decltype(&SetupDiDestroyDeviceInfoList) fakeImportSetupDiDestroyDeviceInfoList __asm__(
    "__imp_SetupDiDestroyDeviceInfoList") = FakeSetupDiDestroyDeviceInfoList;

// hid.dll's calls are declared without dllimport: the functions themselves.
void NTAPI HidD_GetHidGuid(LPGUID guid) { *guid = GUID{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}}; }

BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) return FALSE;
    attributes->VendorID = fake.devices[h->device].vendor;
    attributes->ProductID = fake.devices[h->device].product;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) return FALSE;
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(&fake.devices[h->device]);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA) { return TRUE; }

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    const auto* device = reinterpret_cast<const FakeWinHidDevice*>(preparsed);
    *caps = HIDP_CAPS{};
    caps->InputReportByteLength = device->inputLength;
    caps->OutputReportByteLength = device->outputLength;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN NTAPI HidD_SetOutputReport(HANDLE handle, PVOID buffer, ULONG size) {
    std::lock_guard lock(fakeMutex);
    CheckUnused(nullptr, buffer, size);
    if (Find(handle) == nullptr || fake.setOutputReportFails) return FALSE;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    fake.writes.push_back({std::vector<uint8_t>(bytes, bytes + size), true});
    return TRUE;
}
}
