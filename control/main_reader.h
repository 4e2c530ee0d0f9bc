// The main reader keeps RemoteState current from every report and asks the
// view to repaint or close; ShutDownRemote is the device side of the close.
#pragma once

// Thread body: waits 500 ms, then reads and decodes until readingEnabled is 0.
// After a status report, and after each second without any report, it asks
// the view for the reporting mode again; with data flowing it asks nothing.
void MainReader();

// Stops the reading, puts the remote back into buttons-only mode (12 00 30)
// and releases it. Its steps run once; later calls return at once.
void ShutDownRemote();

// As ShutDownRemote, for an ending that cannot wait: returns at once, doing
// nothing, while a shutdown or a mode re-send is sending.
void ShutDownRemoteUnlessBusy();

// On the view's thread, asked for by the reader after a status report or a
// silence: sends the reporting mode (12 00 33) again, since after any status
// report the remote sends no data until it is told a mode. Nothing once the
// shutdown has begun.
void ResendReportingMode();
