// The real remote, through Windows' own HID interfaces (hid.dll and
// setupapi.dll).
#include <windows.h>

#include <setupapi.h>

// hidsdi.h (which brings hidpi.h) declares C functions without extern "C".
extern "C" {
#include <winioctl.h>
#include <hidclass.h>
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/immortal.h"
#include "remote/hid_backend.h"

namespace {

// The memory of one overlapped operation: the system writes into it until the
// operation has ended, whatever happened to the device meanwhile.
struct Transfer {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;      // manual reset; set by the system when it ends
    std::vector<uint8_t> bytes;  // the report read or written
    bool pending = false;        // started, and its end not yet seen

    ~Transfer() {
        if (event != nullptr) CloseHandle(event);
    }
};

// The forms of write, in the order they are tried.
enum class WriteForm { Undecided, Exact, Padded, Control };
constexpr const char* kWriteFormNames[] = {"", "exact", "padded", "control"};

}  // namespace

// One opened remote. Reads come from one thread at a time, writes from
// another; each has its own transfer.
struct BackendDevice {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::size_t outputLength = 0;  // OutputReportByteLength
    Transfer* reading = nullptr;
    Transfer* writing = nullptr;
    // The first form the stack accepted, kept for later writes. Written by
    // the writing thread, read by anyone asking which form it is.
    std::atomic<WriteForm> form{WriteForm::Undecided};
    // An operation outlived its cancel: the device no longer answers, and
    // that transfer stays with the system. Set by either thread.
    std::atomic<bool> lost{false};
};

namespace {

// How long a write may take before it is cancelled (a remote that went out of
// range must not hold the window's thread), and how much longer the caller
// then waits for the cancel to end.
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr DWORD kCancelWaitMs = 250;

// Transfers the system still held when their device was closed. Each is
// released once its event says it has ended; one that never ends stays here
// for good (at most the two of each device opened).
struct ParkedTransfers {
    std::mutex mutex;
    std::vector<Transfer*> transfers;
};
Immortal<ParkedTransfers> parked;

void ReleaseEndedTransfers() {
    std::lock_guard lock(parked.value.mutex);
    std::vector<Transfer*>& transfers = parked.value.transfers;
    const auto ended = std::partition(transfers.begin(), transfers.end(), [](Transfer* t) {
        return WaitForSingleObject(t->event, 0) != WAIT_OBJECT_0;
    });
    for (auto it = ended; it != transfers.end(); ++it) delete *it;
    transfers.erase(ended, transfers.end());
}

// Frees a transfer the system is done with, or parks one it may still write.
void DropTransfer(Transfer* transfer) {
    if (transfer == nullptr) return;
    if (!transfer->pending) {
        delete transfer;
        return;
    }
    std::lock_guard lock(parked.value.mutex);
    parked.value.transfers.push_back(transfer);
}

Transfer* NewTransfer(std::size_t size) {
    auto* transfer = new Transfer;
    transfer->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    transfer->bytes.resize(size);
    return transfer;
}

// Readies a transfer that is not pending for its next operation.
OVERLAPPED* Begin(Transfer& transfer) {
    transfer.overlapped = OVERLAPPED{};
    transfer.overlapped.hEvent = transfer.event;
    ResetEvent(transfer.event);
    return &transfer.overlapped;
}

// What became of one overlapped operation.
struct Ending {
    DWORD error = ERROR_SUCCESS;  // ERROR_SUCCESS: it moved `moved` bytes
    DWORD moved = 0;
    bool timedOut = false;        // its time ran out and the backend cancelled it
};

// Waits for the operation started on transfer to end, up to timeoutMs; then
// cancels it and waits at most kCancelWaitMs more. An operation still running
// after that keeps its transfer pending and ends with ERROR_IO_PENDING.
Ending Await(HANDLE handle, Transfer& transfer, DWORD timeoutMs) {
    Ending ending;
    const DWORD waited = WaitForSingleObject(transfer.event, timeoutMs);
    if (waited != WAIT_OBJECT_0) {
        ending.timedOut = waited == WAIT_TIMEOUT;
        CancelIoEx(handle, &transfer.overlapped);
        if (WaitForSingleObject(transfer.event, kCancelWaitMs) != WAIT_OBJECT_0) {
            ending.error = ERROR_IO_PENDING;
            return ending;
        }
    }
    transfer.pending = false;
    if (!GetOverlappedResult(handle, &transfer.overlapped, &ending.moved, FALSE)) {
        ending.error = GetLastError();
    }
    return ending;
}

// Starts a read or write of size bytes of transfer and waits for it as Await
// does. A device whose operation outlives the cancel is lost.
template <class Start>
Ending Run(BackendDevice* device, Transfer& transfer, DWORD size, DWORD timeoutMs, Start start) {
    OVERLAPPED* overlapped = Begin(transfer);
    if (!start(device->handle, transfer.bytes.data(), size, nullptr, overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        return Ending{GetLastError(), 0, false};
    }
    transfer.pending = true;
    const Ending ending = Await(device->handle, transfer, timeoutMs);
    if (ending.error == ERROR_IO_PENDING) device->lost = true;
    return ending;
}

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

// Closing the handle ends what is still running on it; a transfer the system
// has not given back yet is parked rather than freed.
void CloseDevice(BackendDevice* device) {
    if (device->handle != INVALID_HANDLE_VALUE) {
        CancelIoEx(device->handle, nullptr);
        CloseHandle(device->handle);
    }
    DropTransfer(device->reading);
    DropTransfer(device->writing);
    delete device;
    ReleaseEndedTransfers();
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
    if (!described || caps.InputReportByteLength == 0) {
        *error = ERROR_INVALID_DATA;
        CloseDevice(device);
        return nullptr;
    }
    device->outputLength = caps.OutputReportByteLength;
    device->reading = NewTransfer(caps.InputReportByteLength);
    device->writing = NewTransfer(caps.OutputReportByteLength);
    if (device->reading->event == nullptr || device->writing->event == nullptr) {
        *error = GetLastError();
        CloseDevice(device);
        return nullptr;
    }
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

// The control channel's form of write: the report as an output report of the
// device's collection, the request HidD_SetOutputReport makes, but overlapped
// so that it is bounded as every other write is.
BOOL SetOutputReport(HANDLE handle, void* bytes, DWORD size, DWORD* moved, OVERLAPPED* overlapped) {
    return DeviceIoControl(handle, IOCTL_HID_SET_OUTPUT_REPORT, bytes, size, nullptr, 0, moved,
                           overlapped);
}

// One write of the report in the first `size` bytes of the device's write
// transfer, started by `start` (WriteFile or SetOutputReport): the bytes
// written, kRefused when the stack refuses a buffer of that size,
// kBackendTimedOut, or -1 (failed, or the device is lost).
constexpr int kRefused = -3;

template <class Start>
int WriteOnce(BackendDevice* device, std::size_t size, Start start) {
    const Ending ending =
        Run(device, *device->writing, static_cast<DWORD>(size), kWriteTimeoutMs, start);
    if (ending.error == ERROR_INVALID_USER_BUFFER) return kRefused;
    if (ending.error == ERROR_OPERATION_ABORTED && ending.timedOut) return kBackendTimedOut;
    if (ending.error != ERROR_SUCCESS) return -1;
    return static_cast<int>(ending.moved);
}

}  // namespace

BackendDevice* BackendOpen(int vendor, int product, int index, BackendOpenFailure* failure) {
    BackendOpenFailure unused;
    if (failure == nullptr) failure = &unused;
    failure->node[0] = '\0';
    failure->reason[0] = '\0';
    ReleaseEndedTransfers();
    int opened = 0;
    for (const std::vector<char>& path : ListHidInterfaces()) {
        if (!HasIdentifiers(path.data(), vendor, product)) continue;
        DWORD error = 0;
        BackendDevice* device = OpenDevice(path.data(), &error);
        if (device == nullptr) {
            if (failure->node[0] == '\0') {
                std::snprintf(failure->node, sizeof failure->node, "%s", path.data());
                DescribeError(error, failure->reason, sizeof failure->reason);
            }
            continue;
        }
        if (opened++ == index) {
            failure->node[0] = '\0';
            failure->reason[0] = '\0';
            return device;
        }
        CloseDevice(device);
    }
    return nullptr;
}

const char* BackendWriteForm(BackendDevice* device) {
    return kWriteFormNames[static_cast<int>(device->form.load())];
}

// A read the backend cancels because its wait ran out is 0, and so is
// nothing else: any failure of the read means the device is gone.
int BackendRead(BackendDevice* device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
    if (device->lost) return -1;
    Transfer& transfer = *device->reading;
    const Ending ending = Run(device, transfer, static_cast<DWORD>(transfer.bytes.size()),
                              static_cast<DWORD>(timeoutMs), ReadFile);
    if (ending.error == ERROR_OPERATION_ABORTED && ending.timedOut) return 0;
    if (ending.error != ERROR_SUCCESS || ending.moved == 0) return -1;
    const std::size_t copied = std::min<std::size_t>(ending.moved, capacity);
    std::memcpy(buffer, transfer.bytes.data(), copied);
    return static_cast<int>(copied);
}

// Stacks differ in the writes they take. Windows 8 and later, and adapters,
// send a buffer whole, so only the report's own length reaches the remote
// intact. The Toshiba stack refuses a buffer shorter than the output report
// length and takes it padded with zeros; Windows 7's class driver takes the
// padded buffer too, but sends it whole and the remote rejects it, which is
// why Windows 10 and later is what this program supports. A few stacks refuse
// both and take the report only on the control channel. Only a refusal moves
// on to the next form: a write that fails or times out is a failed write (the
// control channel switches a Wii Remote Plus off). Every form is bounded by
// kWriteTimeoutMs.
int BackendWrite(BackendDevice* device, const uint8_t* buffer, std::size_t length) {
    if (device->lost) return -1;
    const std::size_t padded = std::max(length, device->outputLength);
    std::vector<uint8_t>& bytes = device->writing->bytes;
    if (bytes.size() < padded) bytes.resize(padded);
    std::fill(bytes.begin(), bytes.end(), uint8_t{0});
    std::memcpy(bytes.data(), buffer, length);

    // A report as long as the output report is both forms at once: its
    // acceptance settles nothing.
    const WriteForm form = device->form;
    const auto keep = [&](WriteForm accepted, int written) {
        if (written == kRefused) return -1;
        if (written < 0) return written;
        if (form == WriteForm::Undecided && (length < padded || accepted == WriteForm::Control)) {
            device->form = accepted;
        }
        return static_cast<int>(length);
    };
    if (form == WriteForm::Undecided || form == WriteForm::Exact) {
        const int written = WriteOnce(device, length, WriteFile);
        if (written != kRefused || form == WriteForm::Exact) return keep(WriteForm::Exact, written);
    }
    if ((form == WriteForm::Undecided && length < padded) || form == WriteForm::Padded) {
        const int written = WriteOnce(device, padded, WriteFile);
        if (written != kRefused || form == WriteForm::Padded) {
            return keep(WriteForm::Padded, written);
        }
    }
    return keep(WriteForm::Control, WriteOnce(device, padded, SetOutputReport));
}

void BackendClose(BackendDevice* device) { CloseDevice(device); }
