// Asks a window to close the way a window manager does: a WM_PROTOCOLS client
// message carrying WM_DELETE_WINDOW, which the window must have asked for (a
// window manager would otherwise kill the client instead).
//   x11close WINDOW-ID
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(int argc, char** argv) {
    Display* display = argc == 2 ? XOpenDisplay(nullptr) : nullptr;
    if (!display)
        return fputs("usage: x11close WINDOW-ID, on a display\n", stderr), 2;
    Window window = strtoul(argv[1], nullptr, 0);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    Atom* listed = nullptr;
    int count = 0;
    bool asksForIt = false;
    if (XGetWMProtocols(display, window, &listed, &count))
        for (int i = 0; i < count; i++)
            asksForIt |= listed[i] == Atom(event.xclient.data.l[0]);
    XFree(listed);
    Status sent = asksForIt && XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : (fputs("x11close: the window does not take WM_DELETE_WINDOW\n", stderr), 1);
}
