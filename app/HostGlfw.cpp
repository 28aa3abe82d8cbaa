// The window host on Linux: GLFW 3 with an OpenGL 3 context and Dear ImGui's
// own GLFW and OpenGL3 backends, where Windows uses Win32 and Direct3D 11.
// Failures to start are reported on standard error, as a terminal program's are.

#include "app/Host.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include "app/App.h"

namespace {

GLFWwindow* window = nullptr;

// GLFW reports the reason for a failure only through its callback.
char lastError[512] = "no reason given";

void rememberError(int, const char* description) {
    snprintf(lastError, sizeof lastError, "%s", description);
}

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
    glfwMaximizeWindow(window);
    glfwShowWindow(window);
    return true;
}

void initBackends() {
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init("#version 130");
}

bool pollEvents() {
    glfwPollEvents();
    return !glfwWindowShouldClose(window);
}

bool isMinimised() { return glfwGetWindowAttrib(window, GLFW_ICONIFIED); }

void newFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
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

void setWindowTitle(const char* title) { glfwSetWindowTitle(window, title); }

// xdg-open is started through an intermediate child that exits at once, so
// the opener belongs to init, which reaps it: nothing is waited for and no
// zombie is left. No shell is involved; the address is one argument.
void openLink(const char* address) {
    char program[] = "xdg-open";
    char* argv[] = {program, const_cast<char*>(address), nullptr};
    pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls from here on: scan threads may run.
        if (fork() == 0) {
            setsid();  // so a Ctrl+C in repodeck's terminal spares the browser
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, STDIN_FILENO);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
                if (null > STDERR_FILENO)
                    close(null);
            }
            execvp(program, argv);
            _exit(127);
        }
        _exit(0);
    }
    if (child > 0)
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
}

void shutdownBackends() {
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
}

void destroy() {
    glfwDestroyWindow(window);
    window = nullptr;
    glfwTerminate();
}

}  // namespace host

int main() { return runApp(); }
