// The display connection breaking under the program: the X server ended, the
// user logged out, or the window was killed (xkill). The window system's
// library ends the process then; the program gets a last word first.
#pragma once

// From now on, a broken display connection (the view's or an error box's)
// calls onLost on the thread that found it. onLost must end the process
// itself (it must not return).
void OnLostDisplay(void (*onLost)());
