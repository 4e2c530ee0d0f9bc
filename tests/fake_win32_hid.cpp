#include "tests/fake_win32_hid_state.h"

#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstring>

#include "platform/immortal.h"

namespace fakewinhid {

State& TheState() {
    static Immortal<State> state;
    return state.value;
}

FakeHandle* Find(HANDLE handle) {
    for (FakeHandle& h : TheState().handles) {
        if (h.inUse && static_cast<void*>(&h) == handle) return &h;
    }
    return nullptr;
}

}  // namespace fakewinhid

using namespace fakewinhid;

namespace {

FakeWinHid& fake = TheState().fake;
std::recursive_mutex& fakeMutex = TheState().mutex;

// The address of this stands for the device list.
char deviceList;

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
        for (FakeHandle& h : TheState().handles) {
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
        CheckEventClosed(handle);
        return System<decltype(&CloseHandle)>("CloseHandle")(handle);
    }
    if (h->readWrite) {
        ++fake.deviceCloses;
        CancelOnClose(h);
    } else {
        --fake.attributeHandlesOpen;
    }
    *h = FakeHandle{};
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
    EndLateCancels();
    std::lock_guard lock(fakeMutex);
    fake = FakeWinHid{};
    for (FakeHandle& h : TheState().handles) h = FakeHandle{};
    ForgetOperations();
}

// The backend reaches kernel32 and setupapi through their import pointers;
// these take the place of the import libraries' own.
extern "C" {
decltype(&CreateFileA) fakeImportCreateFileA __asm__("__imp_CreateFileA") = FakeCreateFileA;
decltype(&CloseHandle) fakeImportCloseHandle __asm__("__imp_CloseHandle") = FakeCloseHandle;
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

}
