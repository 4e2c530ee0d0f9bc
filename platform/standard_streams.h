// A program started with its standard input, output or error closed (as some
// launchers do) would hand those numbers to the next files it opens: the
// display's connection could become "standard error", and a line meant for
// the user would land inside the window system's protocol.
#pragma once

// Opens each of the three standard streams that is closed on the null
// device. Call first in main, before anything opens a file or a connection.
void KeepStandardStreamsOpen();
