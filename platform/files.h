// Files the program is told to write.
#pragma once

#include <cstdio>

// Creates path for writing, failing (nullptr, errno set) when anything by
// that name exists already: an existing file is never overwritten.
std::FILE* CreateNewFile(const char* path);
