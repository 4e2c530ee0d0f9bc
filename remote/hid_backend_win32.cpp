// The real remote, through Windows' own HID interfaces (hid.dll and
// setupapi.dll).
#include <windows.h>

#include <setupapi.h>

// hidsdi.h (which brings hidpi.h) declares C functions without extern "C".
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "remote/hid_backend.h"

// One opened remote. Reads come from one thread at a time, writes from
// another; each has its own overlapped operation and event.
struct BackendDevice {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> input;   // InputReportByteLength bytes, identifier first
    std::vector<uint8_t> output;  // OutputReportByteLength bytes: reports padded to it
    HANDLE readEvent = nullptr;
    HANDLE writeEvent = nullptr;
    std::atomic<const char*> writeForm{""};  // the form of write the stack took
};

namespace {

// How long a write may take before it is given up (a remote that went out of
// range must not hold the window's thread).
constexpr DWORD kWriteTimeoutMs = 1000;

// The system's description of an error code, as one line.
void DescribeError(DWORD error, char* text, std::size_t size) {
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, static_cast<DWORD>(size), nullptr);
    std::size_t end = length;
    // Without the trailing full stop and line break.
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' ||
                       text[end - 1] == '.')) {
        --end;
    }
    if (end == 0) {
        std::snprintf(text, size, "error %lu", static_cast<unsigned long>(error));
        return;
    }
    text[end] = '\0';
}

// Whether the HID interface at path is the wanted device. Opened with no
// access at all: keyboards and mice refuse read and write opens, but still
// tell their identifiers.
bool HasIdentifiers(const char* path, int vendor, int product) {
    const HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool match = HidD_GetAttributes(probe, &attributes) && attributes.VendorID == vendor &&
                       attributes.ProductID == product;
    CloseHandle(probe);
    return match;
}

void CloseDevice(BackendDevice* device) {
    if (device->handle != INVALID_HANDLE_VALUE) CloseHandle(device->handle);
    if (device->readEvent != nullptr) CloseHandle(device->readEvent);
    if (device->writeEvent != nullptr) CloseHandle(device->writeEvent);
    delete device;
}

// Opens path for reading and writing, overlapped, and takes the report
// lengths the device declares. nullptr with the system's error otherwise.
BackendDevice* OpenDevice(const char* path, DWORD* error) {
    auto* device = new BackendDevice;
    device->handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (device->handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        CloseDevice(device);
        return nullptr;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const bool described = HidD_GetPreparsedData(device->handle, &preparsed) &&
                           HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (preparsed != nullptr) HidD_FreePreparsedData(preparsed);
    device->readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    device->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!described || caps.InputReportByteLength == 0 || device->readEvent == nullptr ||
        device->writeEvent == nullptr) {
        *error = described ? GetLastError() : ERROR_INVALID_DATA;
        CloseDevice(device);
        return nullptr;
    }
    device->input.resize(caps.InputReportByteLength);
    device->output.resize(caps.OutputReportByteLength);
    return device;
}

// The paths of the present HID interfaces, in the system's order.
std::vector<std::vector<char>> ListHidInterfaces() {
    std::vector<std::vector<char>> paths;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData); ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> storage(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr,
                                              nullptr)) {
            continue;
        }
        const char* path = detail->DevicePath;
        paths.emplace_back(path, path + std::strlen(path) + 1);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// Waits for the overlapped operation on device's handle to end, up to
// timeoutMs, cancelling it if it has not ended by then. Returns the bytes it
// moved, 0 when it was cancelled before it moved any, -1 when it failed.
// An operation that completes while it is being cancelled counts as
// completed: its report is not lost.
int FinishOverlapped(HANDLE handle, OVERLAPPED* overlapped, DWORD timeoutMs) {
    if (WaitForSingleObject(overlapped->hEvent, timeoutMs) != WAIT_OBJECT_0) {
        CancelIoEx(handle, overlapped);
    }
    DWORD moved = 0;
    if (GetOverlappedResult(handle, overlapped, &moved, TRUE)) return static_cast<int>(moved);
    return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
}

}  // namespace

BackendDevice* BackendOpen(int vendor, int product, int index, BackendOpenFailure* failure) {
    failure->node[0] = '\0';
    failure->reason[0] = '\0';
    int opened = 0;
    for (const std::vector<char>& path : ListHidInterfaces()) {
        if (!HasIdentifiers(path.data(), vendor, product)) continue;
        DWORD error = 0;
        if (BackendDevice* device = OpenDevice(path.data(), &error)) {
            if (opened++ < index) {
                CloseDevice(device);
                continue;
            }
            failure->node[0] = '\0';
            return device;
        }
        if (failure->node[0] == '\0') {
            std::snprintf(failure->node, sizeof failure->node, "%s", path.data());
            DescribeError(error, failure->reason, sizeof failure->reason);
        }
    }
    return nullptr;
}

int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = device->readEvent;
    ResetEvent(device->readEvent);
    const DWORD length = static_cast<DWORD>(device->input.size());
    if (!ReadFile(device->handle, device->input.data(), length, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return -1;  // the device is gone
    }
    const int moved = FinishOverlapped(device->handle, &overlapped, static_cast<DWORD>(timeoutMs));
    if (moved <= 0) return moved;
    const std::size_t copied = std::min(static_cast<std::size_t>(moved), capacity);
    std::memcpy(buffer, device->input.data(), copied);
    return static_cast<int>(copied);
}

// The remote takes output reports of the length it declares, zero-padded.
// Some Bluetooth stacks refuse writes on the interrupt channel for the
// original remote: those take the report on the control channel instead.
int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length) {
    std::vector<uint8_t>& report = device->output;
    if (report.size() < length) report.resize(length);
    std::fill(report.begin(), report.end(), uint8_t{0});
    std::memcpy(report.data(), buffer, length);
    const DWORD size = static_cast<DWORD>(report.size());

    OVERLAPPED overlapped{};
    overlapped.hEvent = device->writeEvent;
    ResetEvent(device->writeEvent);
    int written = -1;
    if (WriteFile(device->handle, report.data(), size, nullptr, &overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        written = FinishOverlapped(device->handle, &overlapped, kWriteTimeoutMs);
        if (written == 0) return -1;  // timed out: the remote does not take reports
    }
    if (written < 0 && !HidD_SetOutputReport(device->handle, report.data(), size)) return -1;
    device->writeForm.store(written < 0 ? "control" : "padded", std::memory_order_relaxed);
    return static_cast<int>(length);
}

const char* BackendWriteForm(BackendDevice* device) {
    return device->writeForm.load(std::memory_order_relaxed);
}

void BackendClose(BackendDevice* device) { CloseDevice(device); }
