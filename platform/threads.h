// Starts body on a new detached thread. False when no thread could be made.
#pragma once

bool StartDetachedThread(void (*body)());
