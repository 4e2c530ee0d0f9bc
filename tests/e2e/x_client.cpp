// The display side of the harness: a client connection to the test's X
// server that finds windows, reads their pixels and sends them events.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

namespace {

// Windows come and go while the tests look at them: an error about one that
// has just gone must not end the test program, as Xlib's default handler would.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

std::optional<std::string> TextProperty(Display* display, Window window, Atom property) {
    XTextProperty text{};
    if (XGetTextProperty(display, window, &text, property) == 0) return std::nullopt;
    std::optional<std::string> value;
    if (text.value != nullptr && text.format == 8) {
        value = std::string(reinterpret_cast<const char*>(text.value), text.nitems);
    }
    if (text.value != nullptr) XFree(text.value);
    return value;
}

void CollectWindows(Display* display, Window parent, std::vector<Window>* out) {
    Window root = 0, parentOfParent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &parentOfParent, &children, &count) == 0) return;
    for (unsigned int i = 0; i < count; ++i) {
        out->push_back(children[i]);
        CollectWindows(display, children[i], out);
    }
    if (children != nullptr) XFree(children);
}

}  // namespace

XClient::XClient(const std::string& display) {
    XSetErrorHandler(IgnoreXError);
    display_ = XOpenDisplay(display.c_str());
}

XClient::~XClient() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

std::vector<XClient::Window> XClient::FindWindows(const std::string& title) {
    std::vector<Window> all;
    CollectWindows(display_, DefaultRootWindow(display_), &all);
    const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
    std::vector<Window> found;
    for (Window window : all) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display_, window, &attributes) == 0) continue;
        if (attributes.map_state != IsViewable) continue;
        std::optional<std::string> name = TextProperty(display_, window, netName);
        if (!name) name = TextProperty(display_, window, XA_WM_NAME);
        if (name && *name == title) found.push_back(window);
    }
    return found;
}

std::optional<XClient::Window> XClient::WaitForWindow(const std::string& title,
                                                      milliseconds deadline) {
    std::optional<Window> window;
    WaitFor(
        [&] {
            const std::vector<Window> found = FindWindows(title);
            if (!found.empty()) window = found.front();
            return window.has_value();
        },
        deadline);
    return window;
}

std::optional<XClient::Geometry> XClient::GetGeometry(Window window) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display_, window, &attributes) == 0) return std::nullopt;
    int x = 0, y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y,
                               &child)) {
        return std::nullopt;
    }
    return Geometry{x, y, attributes.width, attributes.height};
}

void XClient::SendKey(Window window, unsigned long keysym) {
    XEvent event{};
    XKeyEvent& key = event.xkey;
    key.display = display_;
    key.window = window;
    key.root = DefaultRootWindow(display_);
    key.subwindow = None;
    key.time = CurrentTime;
    key.x = key.y = 1;
    key.x_root = key.y_root = 1;
    key.same_screen = True;
    key.state = 0;
    key.keycode = XKeysymToKeycode(display_, keysym);
    key.type = KeyPress;
    XSendEvent(display_, window, True, KeyPressMask, &event);
    key.type = KeyRelease;
    XSendEvent(display_, window, True, KeyReleaseMask, &event);
    XSync(display_, False);
}

void XClient::KillClientOf(Window window) {
    XKillClient(display_, window);
    XSync(display_, False);
}

void XClient::SendCloseRequest(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display_;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
}

void XClient::ExposeByCovering(Window window) {
    const std::optional<Geometry> geometry = GetGeometry(window);
    if (!geometry) return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
    const ::Window cover = XCreateWindow(
        display_, DefaultRootWindow(display_), geometry->x, geometry->y,
        static_cast<unsigned>(geometry->width), static_cast<unsigned>(geometry->height), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel,
        &attributes);
    XMapRaised(display_, cover);
    XSync(display_, False);
    XDestroyWindow(display_, cover);
    XSync(display_, False);
}

void XClient::Resize(Window window, int width, int height) {
    XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
}

std::optional<std::vector<std::string>> XClient::Snapshot(Window window) {
    const std::optional<Geometry> geometry = GetGeometry(window);
    if (!geometry) return std::nullopt;
    XImage* image = XGetImage(display_, window, 0, 0, static_cast<unsigned>(geometry->width),
                              static_cast<unsigned>(geometry->height), AllPlanes, ZPixmap);
    if (image == nullptr) return std::nullopt;
    const unsigned long colour = image->red_mask | image->green_mask | image->blue_mask;
    std::vector<std::string> rows(static_cast<std::size_t>(geometry->height),
                                  std::string(static_cast<std::size_t>(geometry->width), '?'));
    for (int y = 0; y < geometry->height; ++y) {
        for (int x = 0; x < geometry->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y) & colour;
            rows[y][x] = pixel == colour ? 'W' : pixel == 0 ? 'B' : '?';
        }
    }
    XDestroyImage(image);
    return rows;
}

}  // namespace e2e
