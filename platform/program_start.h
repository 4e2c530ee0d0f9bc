// What each program does first, before it reads its command line or writes a
// line, and how it shows the text of --help and --version.
#pragma once

// Call first in main. Leaves argc and argv holding the command line as UTF-8,
// the encoding every file name is given in. On Windows the arguments are read
// again from the system in UTF-16 (the C runtime's copy turns characters
// outside the ANSI code page into look-alikes), and a window program started
// from a console joins that console: standard output and error that the
// starter did not redirect show there, and Ctrl+C or Ctrl+Break typed at it
// later, meant for whatever the console runs next, are dropped (they neither
// end nor kill the program). One line and exit 2 when an argument cannot be
// read exactly.
void StartProgram(const char* program, int* argc, char*** argv);

// Shows the text of --help or --version on standard output; on Windows, for a
// program that has neither a console nor a redirected output (one started
// from the Start menu), in a box captioned program, returning once it is
// dismissed.
void ShowProgramText(const char* program, const char* text);
