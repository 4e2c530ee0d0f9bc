#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

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

}  // namespace

std::FILE* CreateNewFile(const char* path) {
    std::wstring name;
    if (!ToUtf16(path, &name)) return nullptr;
    // Binary: the file's lines end in \n here as on Linux.
    const int fd = _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

std::FILE* OpenForWriting(const char* path, bool* created) {
    std::wstring name;
    if (!ToUtf16(path, &name)) return nullptr;
    int fd = _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    *created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        fd = _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    }
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
}

bool EmptyOpenFile(std::FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK) return true;
    return _chsize_s(_fileno(file), 0) == 0;
}

bool CutOpenFile(std::FILE* file, uint64_t size) {
    return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

FileIdentity ReadFileIdentity(std::FILE* file) {
    if (file == nullptr) return {};
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return {};
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return {info.dwVolumeSerialNumber, index, true};
}

std::FILE* OpenFile(const char* path, const char* mode) {
    std::wstring name, wideMode;
    if (!ToUtf16(path, &name) || !ToUtf16(mode, &wideMode)) return nullptr;
    return _wfopen(name.c_str(), wideMode.c_str());
}

bool RemoveFile(const char* path) {
    std::wstring name;
    return ToUtf16(path, &name) && _wremove(name.c_str()) == 0;
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
