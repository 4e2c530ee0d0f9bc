// The sensor view: the program's only window. It shows the four IR points of
// RemoteState as small black crosses at half the camera's resolution, and is
// where the program ends (Escape, the close box, or the reader's HOME
// request all lead to its destroy handler).
#pragma once

// Creates the window and its drawing resources and paints it once. False
// when no visible window could be made.
bool CreateSensorView();

// Runs the view's event loop until the quit request comes; returns its code.
int RunSensorView();

// From the reader: repaint the whole window from RemoteState. Returns at once;
// requests that come before the next paint merge into it.
void RequestRepaint();

// From the reader: close the view, and return once its destroy handler has
// run on the view's thread. Returns at once when there is no open view.
void RequestClose();
