// Asks a window to close the way a window manager does: a WM_PROTOCOLS client
// message carrying WM_DELETE_WINDOW, sent only if the window asks for it (a
// window manager would otherwise kill the client instead).
//   x11close WINDOW-ID
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: x11close WINDOW-ID\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "x11close: cannot open the display\n");
        return 2;
    }
    Window window = strtoul(argv[1], nullptr, 0);
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    Atom* listed = nullptr;
    int count = 0;
    bool asksForIt = false;
    if (XGetWMProtocols(display, window, &listed, &count)) {
        for (int i = 0; i < count; i++)
            asksForIt |= listed[i] == deleteWindow;
        XFree(listed);
    }
    if (!asksForIt) {
        fprintf(stderr, "x11close: window %s does not take WM_DELETE_WINDOW\n", argv[1]);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
