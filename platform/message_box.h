// Tells the user about a failure: a modal box captioned "Error" with one OK
// button, and the same line on standard error. Returns once the box is
// dismissed, or at once where no box can be shown.
#pragma once

void ShowErrorMessage(const char* text);
