#include "tests/fake_win32_hid.h"

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

FakeWinHid fake;
std::recursive_mutex fakeMutex;

// One handle the fake gave out; its address is the HANDLE.
struct FakeHandle {
    bool inUse = false;
    std::size_t device = 0;
    bool readWrite = false;
    OVERLAPPED* read = nullptr;  // the read in progress, if any
    uint8_t* readBuffer = nullptr;
    DWORD readSize = 0;
};
FakeHandle handles[16];

// The address of a GUID's worth of storage stands for the device list, and
// the address of a device's entry in the fake for its preparsed data.
char deviceList;

FakeHandle* Find(HANDLE handle) {
    for (FakeHandle& h : handles) {
        if (h.inUse && static_cast<void*>(&h) == handle) return &h;
    }
    return nullptr;
}

template <class Function>
Function System(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// Ends an overlapped operation the way the system does: result, bytes moved,
// event set.
void Complete(OVERLAPPED* overlapped, LONG_PTR status, DWORD moved) {
    overlapped->Internal = static_cast<ULONG_PTR>(status);
    overlapped->InternalHigh = moved;
    SetEvent(overlapped->hEvent);
}

constexpr LONG_PTR kSuccess = 0;
constexpr LONG_PTR kCancelled = static_cast<LONG_PTR>(0xC0000120L);  // STATUS_CANCELLED

// Completes the handle's waiting read with the next report, if it is due.
void Deliver(FakeHandle& h, Arrival due) {
    if (h.read == nullptr || fake.reads.empty() || fake.reads.front().arrival != due) return;
    const std::vector<uint8_t> bytes = fake.reads.front().bytes;
    fake.reads.pop_front();
    const DWORD moved = std::min<DWORD>(static_cast<DWORD>(bytes.size()), h.readSize);
    std::memcpy(h.readBuffer, bytes.data(), moved);
    Complete(h.read, kSuccess, moved);
    h.read = nullptr;
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
        for (FakeHandle& h : handles) {
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

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) return System<decltype(&CloseHandle)>("CloseHandle")(handle);
    if (h->readWrite) {
        ++fake.deviceCloses;
        if (h->read != nullptr) fake.closedWhileReading = true;
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
    if (fake.lost) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    h->read = overlapped;
    h->readBuffer = static_cast<uint8_t*>(buffer);
    h->readSize = size;
    Deliver(*h, Arrival::Waiting);
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
    if (fake.writeFileFails) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    fake.writes.push_back({std::vector<uint8_t>(bytes, bytes + size), false});
    Complete(overlapped, kSuccess, size);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI FakeCancelIoEx(HANDLE handle, LPOVERLAPPED overlapped) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) return System<decltype(&CancelIoEx)>("CancelIoEx")(handle, overlapped);
    ++fake.cancels;
    if (h->read == nullptr || (overlapped != nullptr && overlapped != h->read)) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    Deliver(*h, Arrival::AtCancel);
    if (h->read != nullptr) {
        Complete(h->read, kCancelled, 0);
        h->read = nullptr;
    }
    return TRUE;
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD moved,
                                    BOOL wait) {
    std::lock_guard lock(fakeMutex);
    FakeHandle* h = Find(handle);
    if (h == nullptr) {
        return System<decltype(&GetOverlappedResult)>("GetOverlappedResult")(handle, overlapped,
                                                                            moved, wait);
    }
    if (h->read == overlapped) {
        // Still waiting: the backend asks only after its event or a cancel.
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    *moved = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal == static_cast<ULONG_PTR>(kCancelled)) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    return TRUE;
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

}  // namespace

FakeWinHid& TheFakeWinHid() { return fake; }

void ResetFakeWinHid() {
    std::lock_guard lock(fakeMutex);
    fake = FakeWinHid{};
    for (FakeHandle& h : handles) h = FakeHandle{};
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
    if (Find(handle) == nullptr || fake.setOutputReportFails) return FALSE;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    fake.writes.push_back({std::vector<uint8_t>(bytes, bytes + size), true});
    return TRUE;
}
}
