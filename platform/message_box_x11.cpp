#include "platform/message_box.h"

#include <SDL.h>

#include <cstdio>

void ShowErrorMessage(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Error", text, nullptr);
}
