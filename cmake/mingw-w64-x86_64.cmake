# Cross-building the Windows programs on Debian with mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The -posix compilers: the -win32 thread model
# has no std::thread, std::mutex or std::condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C++ runtime and threads: the programs need only Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The project sets CMAKE_CROSSCOMPILING_EMULATOR itself: Wine, in a session of
# its build tree's own.
