// Files the program is told to read and write. Every path is UTF-8 text, as
// the command line gives it (see program_start.h); on Windows the file is
// reached by its UTF-16 name, never by a look-alike in the ANSI code page.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Creates path for writing, failing (nullptr, errno set) when anything by
// that name exists already: an existing file is never overwritten.
std::FILE* CreateNewFile(const char* path);

// Opens path as std::fopen does with mode; nullptr (errno set) on failure.
std::FILE* OpenFile(const char* path, const char* mode);

// The path for the std::filesystem calls; an empty path, which every call
// refuses, when the text is not valid UTF-8 on Windows.
std::filesystem::path FilePath(const char* path);

// A path as UTF-8 text, for messages.
std::string PathText(const std::filesystem::path& path);
