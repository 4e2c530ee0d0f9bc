// Requests to end the program that come from outside its window: on POSIX
// systems the signals SIGINT, SIGTERM, SIGHUP, SIGQUIT and every other one
// sent from outside that would end the process; on Windows the close,
// log-off and shut-down events of the console the program was started from
// (not Ctrl+C or Ctrl+Break typed there: see program_start.h). Each one
// reaches the program's one close path; none is handled inside a signal
// handler.
#pragma once

// Call first in main, before any other thread exists. From then on the
// requests go to onEnd, called on a thread of the watcher's own (never the
// caller's), once per request. On POSIX systems the signals are blocked in
// the calling thread, and so in every thread it starts later; SIGPIPE and
// SIGXFSZ are ignored. False when the watcher could not be started.
bool WatchForEndRequests(void (*onEnd)());
