// The main reader keeps RemoteState current from every report and asks the
// view to repaint or close; ShutDownRemote is the device side of the close.
#pragma once

// Thread body: waits 500 ms, then reads and decodes until readingEnabled is 0.
// It keeps the remote's reporting mode itself (mode_keeper.h): the mode again
// after a status report and after each second without any report, the camera
// set-up again when another mode shows, at most once a second.
void MainReader();

// Stops the reading, puts the remote back into buttons-only mode (12 00 30)
// and releases it. Its steps run once; later calls return at once.
void ShutDownRemote();

// As ShutDownRemote, for an ending that cannot wait: does nothing when a
// shutdown, or a command of the reader's, is still sending after a quarter
// of a second.
void ShutDownRemoteUnlessBusy();
