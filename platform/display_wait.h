// The view's thread waiting on its display connection and on wake-ups from
// the program's other threads at once. A wake-up is a write to a descriptor
// of the program's own: nothing goes through the display server, and the
// connection is read only when it has something.
#pragma once

struct _XDisplay;  // Xlib's Display

enum class DisplayWaitResult {
    Display,  // the connection has something to read, or Xlib holds events it already read
    Wake,     // only a wake-up came
    Failed,   // the wait itself failed
};

// Sets up the wait on the view's connection, once, before any other thread
// may call WakeDisplayWait. False when it cannot: the caller then waits in
// its toolkit's own queue.
bool OpenDisplayWait(_XDisplay* display);

// Any thread, once OpenDisplayWait succeeded: ends the view's wait now, or
// its next one at once. Wake-ups that come before the wait merge into one.
void WakeDisplayWait();

// The view's thread: returns at once when Xlib's own queue holds events (a
// call that waited for a reply, such as XSync, queues there whatever came
// along), else blocks until the connection has something to read or a
// wake-up comes. flush: first send what Xlib may still buffer, which costs a
// read attempt; needed after calls that may leave requests unsent (handling
// events may), not after one that waited for a reply.
DisplayWaitResult WaitForDisplayOrWake(bool flush);
