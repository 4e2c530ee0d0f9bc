#include "platform/standard_streams.h"

// On Windows the window system's connection is no C runtime descriptor that
// a standard stream's number could come to name: nothing to do.
void KeepStandardStreamsOpen() {}
