// Tells the user about a failure: a modal box captioned "Error" with one OK
// button, and the same line on standard error. Returns once the box is
// dismissed, or at once where no box can be shown.
#pragma once

void ShowErrorMessage(const char* text);

// Dismisses the box now shown, if any, as its OK button would, and makes every
// later ShowErrorMessage return at once after writing its line. Callable from
// any thread; the end of the program asks for it.
void DismissErrorMessages();
