// Ends the process with code after flushing its output, without running
// static destructors: a reader thread may still be waiting for the remote.
#pragma once

[[noreturn]] void EndProcess(int code);
