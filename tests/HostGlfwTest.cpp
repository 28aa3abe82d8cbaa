// The Linux host under a virtual X server: its idle wait, the close on a
// signal, the folder picker it owns, and the opener of the About tab's README.
// The test program is linked with the real host file, whose main calls
// runApp: here runApp runs the tests instead of the window.
#include <gtest/gtest.h>  // before X11's headers, whose macros clash with its names

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/App.h"
#include "app/Host.h"
#include "log/LogPane.h"
#include "scan/FolderPicker.h"
#include "tests/TestRepos.h"

// The host's main passes its first argument on: here a test filter.
int runApp(const char* argument) {
    int argc = argument ? 2 : 1;
    char* argv[] = {const_cast<char*>("HostGlfwTest"), const_cast<char*>(argument), nullptr};
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace {

using Clock = std::chrono::steady_clock;

// A wait of 30 seconds that must end long before: a lost wake fails the test.
TEST(HostGlfwTest, PaneTextAndSignalsEndTheIdleWait) {
    ASSERT_TRUE(host::create("repodeck test"));
    for (int i = 0; i < 50 && host::handleEvents(0.1) != host::Events::none; i++) {
    }
    for (int signal : {0, SIGTERM}) {
        std::thread other([signal] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            signal ? kill(getpid(), signal) : (logsPane.addLog("wake\n"), 0);
        });
        Clock::time_point start = Clock::now();
        EXPECT_EQ(host::handleEvents(30), signal ? host::Events::closed : host::Events::some) << signal;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << signal;
        other.join();
    }
    host::destroy();
}

// Looks at the open picker, then cancels it: the folder it shows (once
// loaded), whether it may make folders, and the window it stays above.
struct Seen {
    int tries = 0;
    std::string folder;
    bool createFolders = true;
    unsigned long transientFor = 0;
};

gboolean inspectPicker(gpointer data) {
    Seen& seen = *static_cast<Seen*>(data);
    bool done = ++seen.tries > 200;  // 20 s: a picker that never shows fails instead of hanging
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        if (!GTK_IS_FILE_CHOOSER(item->data) || !gtk_widget_get_mapped(GTK_WIDGET(item->data)))
            continue;
        char* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(item->data));
        seen.folder = folder ? folder : "";
        g_free(folder);
        seen.createFolders = gtk_file_chooser_get_create_folders(GTK_FILE_CHOOSER(item->data));
        GdkWindow* dialog = gtk_widget_get_window(GTK_WIDGET(item->data));
        XGetTransientForHint(GDK_WINDOW_XDISPLAY(dialog), GDK_WINDOW_XID(dialog), &seen.transientFor);
        if (!seen.folder.empty() || done)
            gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL), done = true;
    }
    g_list_free(windows);
    return done ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

TEST(HostGlfwTest, PickerOpensAtTheStartFolderOrHomeAboveTheWindow) {
    ASSERT_TRUE(host::create("repodeck test"));
    TempFolder start;
    for (const std::string& folder : {start.path(), std::string()}) {
        Seen seen;
        g_timeout_add(100, inspectPicker, &seen);
        EXPECT_EQ(pickFolder(folder, host::nativeWindow()), std::nullopt);
        EXPECT_EQ(seen.folder, folder.empty() ? g_get_home_dir() : folder);
        EXPECT_FALSE(seen.createFolders);
        EXPECT_EQ(seen.transientFor, host::nativeWindow());
    }
    host::destroy();
}

TEST(HostGlfwTest, ReadmeOfAProgramInItsBuildFolderIsTheCheckouts) {
    EXPECT_EQ(host::readmePath(), REPODECK_SOURCE_DIR "/README.md");
}

// A stand-in xdg-open, first on the search path, records its arguments and
// where its standard streams lead, then waits until the test lets it finish.
TEST(HostGlfwTest, OpenerGetsThePathAsOneArgumentAndIsNotWaitedFor) {
    auto read = [](const std::string& path) { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
    auto noChildren = [] { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; };
    TempFolder bin, out;
    std::string savedPath = getenv("PATH");
    setenv("PATH", bin.path().c_str(), 1);
    EXPECT_FALSE(host::openLink("/nowhere"));  // no opener
    EXPECT_TRUE(noChildren());

    writeFile(bin / "xdg-open", "#!/bin/sh\ncd " + quoted(out.path()) + " || exit 1\n" +
                                    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >args.tmp\n"
                                    "s=$(for fd in 0 1 2; do readlink /proc/$$/fd/$fd; done); echo \"$s\" >streams\n"
                                    "mv args.tmp args\n"
                                    "while [ ! -e release ]; do sleep 0.01; done\n");
    chmod((bin / "xdg-open").c_str(), 0755);
    setenv("PATH", (bin.path() + ":" + savedPath).c_str(), 1);  // for the tools it uses
    const char* path = "/tmp/a b;$(touch pwned)`touch pwned` 'q\" #x";
    EXPECT_TRUE(host::openLink(path));
    EXPECT_TRUE(noChildren());  // returned with nothing left to reap
    for (int i = 0; i < 2000 && access((out / "args").c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // 20 s at most: a hang, not a measure
    EXPECT_EQ(read(out / "args"), std::string(path) + "\n");
    EXPECT_NE(access((out / "pwned").c_str(), F_OK), 0);  // no shell read the path
    EXPECT_EQ(read(out / "streams"), "/dev/null\n/dev/null\n/dev/null\n");
    writeFile(out / "release", "");
    setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
