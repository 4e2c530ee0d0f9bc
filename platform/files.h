// Files the program is told to read and write, and telling two names of one
// file apart from two files. Every path is UTF-8 text, as the command line
// gives it (see program_start.h); on Windows the file is reached by its UTF-16
// name, never by a look-alike in the ANSI code page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// Creates path for writing, failing (nullptr, errno set) when anything by
// that name exists already: an existing file is never overwritten.
std::FILE* CreateNewFile(const char* path);

// Opens path for writing without emptying it (see EmptyOpenFile) and without
// waiting for a reader: a named pipe that nobody reads fails with ENXIO.
// *created tells whether this call made the file. nullptr with errno set on
// failure.
std::FILE* OpenForWriting(const char* path, bool* created);

// Empties a regular file opened for writing; anything else (a pipe, a
// device) is left as it is. False with errno set when it failed.
bool EmptyOpenFile(std::FILE* file);

// Cuts a file opened for writing back to its first size bytes. False when it
// failed.
bool CutOpenFile(std::FILE* file, uint64_t size);

// What makes a file itself, whatever name it was opened by: its device and
// inode, or on Windows its volume's serial number and its 128-bit file id.
// Only as long as the file is open: a file removed and closed leaves its
// identity to the next file made.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t indexHigh = 0;  // Windows: the upper half of the file id
    bool known = false;  // false: nothing was opened, or the system did not say

    // Both known and the same file.
    bool SameAs(const FileIdentity& other) const {
        return known && other.known && volume == other.volume && index == other.index &&
               indexHigh == other.indexHigh;
    }
};

// The identity of an open file; known is false when the system cannot tell.
FileIdentity ReadFileIdentity(std::FILE* file);

// Closes a file this program made and removes it: the file open, wherever
// its name now is, never another file that has come to bear the name path
// it was made by. False when it could not be removed.
bool RemoveOpenFile(std::FILE* file, const char* path);

// Opens path as std::fopen does with mode; nullptr (errno set) on failure.
std::FILE* OpenFile(const char* path, const char* mode);

// The path for the std::filesystem calls; an empty path, which every call
// refuses, when the text is not valid UTF-8 on Windows.
std::filesystem::path FilePath(const char* path);

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);

// text as one word of a command pasted into the system's usual command line:
// a POSIX shell, or Windows' console (cmd). Text that needs no quoting is
// left as it is.
std::string QuoteForCommandLine(std::string_view text);
