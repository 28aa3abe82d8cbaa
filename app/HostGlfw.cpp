// The window host on Linux: GLFW 3 with an OpenGL 3 context and Dear ImGui's
// own GLFW and OpenGL3 backends, where Windows uses Win32 and Direct3D 11.
// Failures to start are reported on standard error, as a terminal program's
// are; SIGTERM, SIGHUP, SIGINT and SIGQUIT close the window as its close box does.

#include "app/Host.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fontconfig/fontconfig.h>
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include "app/App.h"
#include "app/Theme.h"
#include "app/Panes.h"

namespace {

GLFWwindow* window = nullptr;

// GLFW reports the reason for a failure only through its callback.
char lastError[512] = "no reason given";

void rememberError(int, const char* description) {
    snprintf(lastError, sizeof lastError, "%s", description);
}

// Any input or change of the window, seen through callbacks that Dear ImGui's
// backend chains to (it installs its own after these).
bool eventSeen = false;
void sawEvent() { eventSeen = true; }

// The idle wait and what ends it from other threads. wakeAsked is raised
// before waiting is tested, and waiting before wakeAsked, so a wake is never
// lost between the decision to wait and the wait; the mutex keeps a late wake
// away from a window being destroyed.
std::atomic<bool> waiting{false}, wakeAsked{false};
std::mutex wakeMutex;

void wake() {
    wakeAsked = true;
    if (waiting.exchange(false)) {
        std::lock_guard<std::mutex> lock(wakeMutex);
        if (window)
            glfwPostEmptyEvent();
    }
}

// A signal may land on any thread. GLFW 3.3 posts its empty event by writing
// a byte to a pipe, which a signal handler may do; its wait goes on through
// an interrupted poll, so the handler has to.
std::atomic<bool> closeAsked{false}, windowMade{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void askToClose(int) {
    closeAsked = true;
    if (windowMade)
        glfwPostEmptyEvent();
}

void closeOnSignals() {
    struct sigaction action = {};
    action.sa_handler = askToClose;
    sigemptyset(&action.sa_mask);
    // Each stays caught: a second one, however soon, never skips the stop.
    for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT})
        sigaction(signal, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a closed standard error fails a write, never ends the scan's children unseen
}

std::string folderOfProgram() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

namespace host {

bool create(const char* title) {
    glfwSetErrorCallback(rememberError);
    if (!glfwInit()) {
        fprintf(stderr, "repodeck: cannot start GLFW: %s\n", lastError);
        return false;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_SCALE_TO_MONITOR, GLFW_TRUE);  // 2560 by 1600 at 192 dots per inch
    // Lets the desktop match the window to repodeck.desktop and its icon.
    glfwWindowHintString(GLFW_X11_CLASS_NAME, "repodeck");
    glfwWindowHintString(GLFW_X11_INSTANCE_NAME, "repodeck");
    window = glfwCreateWindow(1280, 800, title, nullptr, nullptr);
    if (!window) {
        fprintf(stderr, "repodeck: cannot create an OpenGL 3 window: %s\n", lastError);
        glfwTerminate();
        return false;
    }
    glfwSetWindowPos(window, 100, 100);
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);

    glfwSetKeyCallback(window, [](GLFWwindow*, int, int, int, int) { sawEvent(); });
    glfwSetCharCallback(window, [](GLFWwindow*, unsigned) { sawEvent(); });
    glfwSetMouseButtonCallback(window, [](GLFWwindow*, int, int, int) { sawEvent(); });
    glfwSetScrollCallback(window, [](GLFWwindow*, double, double) { sawEvent(); });
    glfwSetCursorPosCallback(window, [](GLFWwindow*, double, double) { sawEvent(); });
    glfwSetCursorEnterCallback(window, [](GLFWwindow*, int) { sawEvent(); });
    glfwSetWindowFocusCallback(window, [](GLFWwindow*, int) { sawEvent(); });
    glfwSetWindowRefreshCallback(window, [](GLFWwindow*) { sawEvent(); });
    glfwSetFramebufferSizeCallback(window, [](GLFWwindow*, int, int) { sawEvent(); });
    glfwSetWindowContentScaleCallback(window, [](GLFWwindow*, float, float) { sawEvent(); });
    paneTextArrived = wake;
    windowMade = true;
    closeOnSignals();

    // GLFW hands the clipboard over in one X request, without the protocol
    // for larger transfers.
    Display* display = glfwGetX11Display();
    long units = XExtendedMaxRequestSize(display);
    LogPane::clipboardLimit = size_t(units ? units : XMaxRequestSize(display)) * 4 - 1024;

    glfwMaximizeWindow(window);
    glfwShowWindow(window);
    return true;
}

void initBackends() {
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 130");
}

Events handleEvents(double waitSeconds) {
    eventSeen = false;
    bool woken = wakeAsked.exchange(false);
    if (waitSeconds > 0 && !woken && !closeAsked) {
        waiting = true;
        woken = wakeAsked.exchange(false);
        if (!woken)
            glfwWaitEventsTimeout(waitSeconds);  // a signal ends it too
        waiting = false;
        woken |= wakeAsked.exchange(false);
    }
    glfwPollEvents();
    if (closeAsked || glfwWindowShouldClose(window))
        return Events::closed;
    return eventSeen || woken ? Events::some : Events::none;
}

bool isMinimised() { return glfwGetWindowAttrib(window, GLFW_ICONIFIED); }

void newFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
}

void presentAgain() {
    if (ImGui::GetCurrentContext() && ImGui::GetDrawData())
        present(clearColour);
}

void present(const float clearColour[4]) {
    int width, height;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}

float contentScale() {
    float x = 1, y = 1;
    glfwGetWindowContentScale(window, &x, &y);
    return x > 0 ? x : 1;
}

// DejaVu Sans Mono (Debian's fonts-dejavu-core), else fontconfig's first
// monospaced font for Latin.
FontFace textFont() {
    const char* dejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
    return exists(dejaVu) ? FontFace{dejaVu} : fontFor('A');
}

// Fontconfig's fonts in its order for "monospace" (the user's and the
// system's preferences, then every other font by likeness), read once; of
// those, the TrueType and OpenType files that Dear ImGui can load.
FontFace fontFor(ImWchar c) {
    static FcFontSet* fonts = [] {
        FcFontSet* sorted = nullptr;
        if (FcPattern* pattern = FcInit() ? FcNameParse(reinterpret_cast<const FcChar8*>("monospace")) : nullptr) {
            FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
            FcDefaultSubstitute(pattern);
            FcResult result;
            sorted = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
            FcPatternDestroy(pattern);
        }
        return sorted;
    }();
    for (int i = 0; fonts && i < fonts->nfont; i++) {
        FcPattern* font = fonts->fonts[i];
        FcCharSet* characters = nullptr;
        FcChar8 *file = nullptr, *format = nullptr;
        int index = 0;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &characters) == FcResultMatch &&
            FcCharSetHasChar(characters, c) && FcPatternGetString(font, FC_FILE, 0, &file) == FcResultMatch &&
            FcPatternGetString(font, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
            (strcmp(reinterpret_cast<const char*>(format), "TrueType") == 0 ||
             strcmp(reinterpret_cast<const char*>(format), "CFF") == 0)) {
            FcPatternGetInteger(font, FC_INDEX, 0, &index);
            return {reinterpret_cast<const char*>(file), index};
        }
    }
    return {};
}

void reloadFontTexture() {
    ImGui_ImplOpenGL3_DestroyFontsTexture();
    ImGui_ImplOpenGL3_CreateFontsTexture();
}

int keyIndex(Key key) {
    switch (key) {
    case Key::f: return GLFW_KEY_F;
    case Key::f5: return GLFW_KEY_F5;
    case Key::equal: return GLFW_KEY_EQUAL;
    case Key::minus: return GLFW_KEY_MINUS;
    case Key::zero: return GLFW_KEY_0;
    case Key::keypadAdd: return GLFW_KEY_KP_ADD;
    case Key::keypadSubtract: return GLFW_KEY_KP_SUBTRACT;
    }
    return -1;
}

void setWindowTitle(const char* title) { glfwSetWindowTitle(window, title); }

// $XDG_CONFIG_HOME/repodeck/imgui.ini, or ~/.config/repodeck/imgui.ini.
std::string layoutFile() {
    const char* config = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    std::string folder = config && *config == '/' ? config : home && *home ? std::string(home) + "/.config" : "";
    if (folder.empty())
        return {};
    folder += "/repodeck";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return !error && std::filesystem::is_directory(folder, error) ? folder + "/imgui.ini" : "";
}

uintptr_t nativeWindow() { return window ? uintptr_t(glfwGetX11Window(window)) : 0; }

// Installed, the README is in the documentation folder under the program's
// prefix; a program in its build folder (beside CMakeCache.txt) shows the
// checkout's.
std::string readmePath() {
    std::string folder = folderOfProgram();
    std::string installed = folder + "/../" REPODECK_DOCDIR "/README.md";
    if (exists(installed))
        return installed;
    if (exists(folder + "/CMakeCache.txt") && exists(REPODECK_SOURCE_DIR "/README.md"))
        return REPODECK_SOURCE_DIR "/README.md";
    return {};
}

namespace {

// A viewer or a terminal is started through an intermediate child, so it
// belongs to init, which reaps it: nothing is waited for but the start, and no
// zombie is left. No shell is involved; a path is one argument. The
// intermediate child learns from a close-on-exec pipe whether the start (in
// folder, when given) succeeded.
bool startDetached(char* const argv[], const char* folder) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on: scan threads may run.
        if (fork() == 0) {
            setsid();  // so a Ctrl+C in repodeck's terminal spares the viewer
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, STDIN_FILENO);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
                if (null > STDERR_FILENO)
                    close(null);
            }
            if (!folder || chdir(folder) == 0)
                execvp(argv[0], argv);
            (void)!write(report[1], "x", 1);
            _exit(127);
        }
        close(report[1]);
        char failed;
        ssize_t got;
        while ((got = read(report[0], &failed, 1)) < 0 && errno == EINTR) {
        }
        _exit(got == 0 ? 0 : 1);
    }
    close(report[0]);
    close(report[1]);
    int status = 0;
    if (child > 0)
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool openLink(const std::string& path) {
    char program[] = "xdg-open";
    char* argv[] = {program, const_cast<char*>(path.c_str()), nullptr};
    return startDetached(argv, nullptr);
}

// Debian's choice of terminal, which update-alternatives points at.
bool openTerminal(const std::string& folder) {
    char program[] = "x-terminal-emulator";
    char* argv[] = {program, nullptr};
    return startDetached(argv, folder.c_str());
}

void shutdownBackends() {
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
}

void destroy() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        paneTextArrived = nullptr;
        windowMade = false;
        glfwDestroyWindow(window);
        window = nullptr;
    }
    glfwTerminate();
}

}  // namespace host

int main(int argc, char** argv) { return runApp(argc > 1 ? argv[1] : nullptr); }
