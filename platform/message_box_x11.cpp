// The error box, drawn with Xlib in this process. A box shown by a child
// process (as toolkits do) would outlive a killed program and keep whatever
// the child inherited; this one goes with the process's X connection.
#include "platform/message_box.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct BoxLayout {
    int margin = 16;
    int lineGap = 2;
    int wrapColumns = 64;  // longer lines break at a blank
    int minWidth = 240;
    int buttonWidth = 72;
    int buttonHeight = 26;
};
constexpr BoxLayout kLayout;

// Set once the end of the program dismissed the boxes; then no box shows.
std::atomic<bool> dismissed{false};
// Written by DismissErrorMessages, watched by the box's event loop.
int dismissPipe[2] = {-1, -1};
std::once_flag dismissPipeMade;

void MakeDismissPipe() {
    if (pipe2(dismissPipe, O_CLOEXEC | O_NONBLOCK) != 0) dismissPipe[0] = dismissPipe[1] = -1;
}

std::vector<std::string> WrapText(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = std::min(text.size(), at + kLayout.wrapColumns);
        if (end < text.size()) {
            const std::size_t blank = text.rfind(' ', end);
            if (blank != std::string::npos && blank > at) end = blank;
        }
        lines.push_back(text.substr(at, end - at));
        at = end;
        while (at < text.size() && text[at] == ' ') ++at;
    }
    return lines;
}

class Box {
public:
    Box(Display* display, const char* text) : display_(display), lines_(WrapText(text)) {}
    ~Box() {
        if (font_ != nullptr) XFreeFont(display_, font_);
        if (gc_ != nullptr) XFreeGC(display_, gc_);
        if (window_ != 0) XDestroyWindow(display_, window_);
    }

    // Shows the box and returns once OK, Return, Escape, the close box or a
    // dismissal ends it.
    void Run() {
        if (!Create()) return;
        const int xfd = ConnectionNumber(display_);
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (Handle(event)) return;
            }
            XFlush(display_);
            pollfd watched[2] = {{xfd, POLLIN, 0}, {dismissPipe[0], POLLIN, 0}};
            if (poll(watched, dismissPipe[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return;
            // A server that went away shows as a readable connection: the
            // next XPending finds it and Xlib's I/O error handler takes over.
            if (dismissed.load()) return;
        }
    }

private:
    bool Create() {
        font_ = XLoadQueryFont(display_, "fixed");
        if (font_ == nullptr) return false;
        lineHeight_ = font_->ascent + font_->descent + kLayout.lineGap;
        int textWidth = 0;
        for (const std::string& line : lines_) {
            textWidth = std::max(textWidth, XTextWidth(font_, line.c_str(), static_cast<int>(line.size())));
        }
        width_ = std::max(kLayout.minWidth, textWidth + 2 * kLayout.margin);
        height_ = static_cast<int>(lines_.size()) * lineHeight_ + 3 * kLayout.margin + kLayout.buttonHeight;
        const int screen = DefaultScreen(display_);
        const int x = std::max(0, (DisplayWidth(display_, screen) - width_) / 2);
        const int y = std::max(0, (DisplayHeight(display_, screen) - height_) / 2);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y,
                                      static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
        if (window_ == 0) return false;
        SetWindowProperties(x, y);
        XSelectInput(display_, window_,
                     ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
        gc_ = XCreateGC(display_, window_, 0, nullptr);
        XSetFont(display_, gc_, font_->fid);
        XSetForeground(display_, gc_, BlackPixel(display_, screen));
        XMapRaised(display_, window_);
        XFlush(display_);
        return true;
    }

    void SetWindowProperties(int x, int y) {
        XStoreName(display_, window_, "Error");
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>("Error"), 5);
        const Atom dialog = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM,
                        32, PropModeReplace, reinterpret_cast<const unsigned char*>(&dialog), 1);
        deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, window_, &deleteWindow_, 1);
        XSizeHints size{};
        size.flags = PPosition | PMinSize | PMaxSize;
        size.x = x;
        size.y = y;
        size.min_width = size.max_width = width_;
        size.min_height = size.max_height = height_;
        XSetWMNormalHints(display_, window_, &size);
        XWMHints hints{};
        hints.flags = InputHint;
        hints.input = True;
        XSetWMHints(display_, window_, &hints);
    }

    int ButtonX() const { return (width_ - kLayout.buttonWidth) / 2; }
    int ButtonY() const { return height_ - kLayout.margin - kLayout.buttonHeight; }

    void Draw() {
        XClearWindow(display_, window_);
        int baseline = kLayout.margin + font_->ascent;
        for (const std::string& line : lines_) {
            XDrawString(display_, window_, gc_, kLayout.margin, baseline, line.c_str(),
                        static_cast<int>(line.size()));
            baseline += lineHeight_;
        }
        XDrawRectangle(display_, window_, gc_, ButtonX(), ButtonY(), kLayout.buttonWidth,
                       kLayout.buttonHeight);
        const char* ok = "OK";
        const int okWidth = XTextWidth(font_, ok, 2);
        XDrawString(display_, window_, gc_, ButtonX() + (kLayout.buttonWidth - okWidth) / 2,
                    ButtonY() + (kLayout.buttonHeight + font_->ascent - font_->descent) / 2, ok, 2);
    }

    // True when the event ends the box.
    bool Handle(XEvent& event) {
        switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) Draw();
            return false;
        case KeyPress: {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            return key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space;
        }
        case ButtonRelease: {
            const int x = event.xbutton.x - ButtonX();
            const int y = event.xbutton.y - ButtonY();
            return x >= 0 && x <= kLayout.buttonWidth && y >= 0 && y <= kLayout.buttonHeight;
        }
        case ClientMessage:
            return static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_;
        case DestroyNotify:
            window_ = 0;  // somebody destroyed it for us
            return true;
        }
        return false;
    }

    Display* display_;
    std::vector<std::string> lines_;
    XFontStruct* font_ = nullptr;
    GC gc_ = nullptr;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
    int width_ = 0, height_ = 0, lineHeight_ = 0;
};

}  // namespace

void ShowErrorMessage(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    std::call_once(dismissPipeMade, MakeDismissPipe);
    if (dismissed.load()) return;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;  // no display: the line above is all
    {
        Box box(display, text);
        box.Run();
    }
    XCloseDisplay(display);
}

void DismissErrorMessages() {
    std::call_once(dismissPipeMade, MakeDismissPipe);
    dismissed.store(true);
    if (dismissPipe[1] >= 0) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = write(dismissPipe[1], &wake, 1);
    }
}
