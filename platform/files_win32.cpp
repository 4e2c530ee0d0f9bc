#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

namespace {

// UTF-8 text as UTF-16; false (errno EINVAL) when it is not valid UTF-8.
bool ToUtf16(const char* text, std::wstring* wide) {
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (size <= 0) {
        errno = EINVAL;
        return false;
    }
    wide->assign(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide->data(), size);
    wide->pop_back();  // the terminating zero
    return true;
}

// The errno of a failed CreateFileW, for messages and the callers' checks.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EINVAL;
    }
}

// Opens name for writing, binary (the file's lines end in \n here as on
// Linux), not inherited. Others may delete it meanwhile, so that
// RemoveOpenFile can: it deletes through a handle of its own.
std::FILE* OpenWithCreateFile(const std::wstring& name, DWORD disposition, bool* created) {
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return nullptr;
    }
    *created = disposition == CREATE_NEW || GetLastError() != ERROR_ALREADY_EXISTS;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

}  // namespace

std::FILE* CreateNewFile(const char* path) {
    std::wstring name;
    bool created;
    return ToUtf16(path, &name) ? OpenWithCreateFile(name, CREATE_NEW, &created) : nullptr;
}

std::FILE* OpenForWriting(const char* path, bool* created) {
    std::wstring name;
    return ToUtf16(path, &name) ? OpenWithCreateFile(name, OPEN_ALWAYS, created) : nullptr;
}

bool EmptyOpenFile(std::FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK) return true;
    return _chsize_s(_fileno(file), 0) == 0;
}

bool CutOpenFile(std::FILE* file, uint64_t size) {
    return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

// The 128-bit file id: ReFS gives the 64-bit index of a removed file to the
// next one. Where the system has no such id, the 64-bit index.
FileIdentity ReadFileIdentity(std::FILE* file) {
    if (file == nullptr) return {};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) return {};
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        uint64_t halves[2];
        std::memcpy(halves, id.FileId.Identifier, sizeof halves);
        return {id.VolumeSerialNumber, halves[0], halves[1], true};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return {};
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return {info.dwVolumeSerialNumber, index, 0, true};
}

std::FILE* OpenFile(const char* path, const char* mode) {
    std::wstring name, wideMode;
    if (!ToUtf16(path, &name) || !ToUtf16(mode, &wideMode)) return nullptr;
    return _wfopen(name.c_str(), wideMode.c_str());
}

// Marked for deletion through a second handle on the same open file (the
// first has no right to delete), and gone once both are closed.
bool RemoveOpenFile(std::FILE* file, const char*) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    const HANDLE deleter = ReOpenFile(handle, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool marked = deleter != INVALID_HANDLE_VALUE &&
                        SetFileInformationByHandle(deleter, FileDispositionInfo, &disposition, sizeof disposition);
    if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
    std::fclose(file);
    return marked;
}

// A char string would be read in the ANSI code page: the UTF-16 name instead.
std::filesystem::path FilePath(const char* path) {
    std::wstring name;
    if (!ToUtf16(path, &name)) return {};
    return name;
}

std::string PathText(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
    text.pop_back();
    return text;
}

// In double quotes, which keep the console's & | < > ^ ( ) and spaces
// literal. Backslashes count only before a quote (CommandLineToArgvW): there
// they are doubled. A % would still begin a variable's name, so each stands
// outside the quotes ("a"%"b"): the name would then hold a quote, which no
// variable's does, and the console leaves it as it is.
std::string QuoteForCommandLine(std::string_view text) {
    if (!text.empty() && text.find_first_of(" \t\"&|<>^%()!,;=") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;  // just before the next character
    for (const char c : text) {
        if (c == '"') quoted.append(backslashes + 1, '\\');
        if (c == '%') quoted.append(backslashes, '\\') += '"';
        quoted += c;
        if (c == '%') quoted += '"';
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}
