// The Linux host under a virtual X server: what ends its idle wait, the folder
// picker it owns, the fonts it finds and the opener of the About tab's README. The real host
// file's main calls runApp, which here runs the tests instead of the window.
#include <gtest/gtest.h>  // before X11's headers, whose macros clash with its names

#include <csignal>
#include <filesystem>
#include <thread>

#include <GLFW/glfw3.h>
#include <imgui.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/App.h"
#include "app/Fonts.h"
#include "app/Host.h"
#include "app/Panes.h"
#include "app/FolderPicker.h"
#include "tests/TestRepos.h"

// The host's main passes its first argument on: here a test filter.
int runApp(const char* argument) {
    int argc = argument ? 2 : 1;
    char* argv[] = {const_cast<char*>("HostGlfwTest"), const_cast<char*>(argument), nullptr};
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace {

// Text in a pane, the close box and a signal each end a 30 s wait long before
// it runs out; text that came before the wait ends it at once.
TEST(HostGlfwTest, PaneTextCloseBoxAndSignalsEndTheIdleWait) {
    ASSERT_TRUE(host::create("repodeck test"));
    for (int i = 0; i < 50 && host::handleEvents(0.1) != host::Events::none; i++) {
    }
    paneTextArrived.load()();  // text that came before the wait began
    EXPECT_EQ(host::handleEvents(30), host::Events::some);
    GLFWwindow* window = glfwGetCurrentContext();
    for (int signal : {0, -1, SIGTERM}) {  // -1: the close box, as GLFW reports it
        std::thread other([signal, window] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (signal > 0)
                kill(getpid(), signal);
            else if (signal < 0)
                glfwSetWindowShouldClose(window, GLFW_TRUE), glfwPostEmptyEvent();
            else
                paneTextArrived.load()();  // as the window's sink calls it after text
        });
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(host::handleEvents(30), signal ? host::Events::closed : host::Events::some) << signal;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << signal;  // a lost wake
        other.join();
        glfwSetWindowShouldClose(window, GLFW_FALSE);
    }
    host::destroy();
}

// The open picker as a user meets it: its folder and owner read, then a path typed
// and Enter; Cancel on a refusal, with nothing to type, or after 20 s (no hang).
struct Picker {
    std::string typed, seen, refusal;
    int tries = 0;
    bool entered = false;
};

GtkWidget* chooserWidget(GtkWidget* widget) {
    if (GTK_IS_FILE_CHOOSER_WIDGET(widget))
        return widget;
    GtkWidget* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* child = children; child && !found; child = child->next)
            found = chooserWidget(GTK_WIDGET(child->data));
        g_list_free(children);
    }
    return found;
}

gboolean usePicker(gpointer data) {
    auto& picker = *static_cast<Picker*>(data);
    bool giveUp = ++picker.tries > 200;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        if (!GTK_IS_FILE_CHOOSER(item->data) || !gtk_widget_get_mapped(GTK_WIDGET(item->data)))
            continue;
        g_autofree char* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(item->data));
        GtkWidget* label = gtk_file_chooser_get_extra_widget(GTK_FILE_CHOOSER(item->data));
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(item->data));
        GdkWindow* dialog = gtk_widget_get_window(GTK_WIDGET(item->data));
        Window owner = 0;
        XGetTransientForHint(GDK_WINDOW_XDISPLAY(dialog), GDK_WINDOW_XID(dialog), &owner);
        if (folder && picker.seen.empty())
            picker.seen = std::string(folder) + " above " + std::to_string(owner);
        if (label && *gtk_label_get_text(GTK_LABEL(label)))
            picker.refusal = gtk_label_get_text(GTK_LABEL(label));
        if (giveUp || !picker.refusal.empty() || (folder && picker.typed.empty())) {
            gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL);
        } else if (folder && !picker.entered) {  // as typing "/": the path field opens with the text
            picker.entered = true;
            g_signal_emit_by_name(chooserWidget(GTK_WIDGET(item->data)), "location-popup", picker.typed.c_str());
        } else if (picker.entered && focus && GTK_IS_ENTRY(focus)) {
            gtk_widget_activate(focus);  // Enter
        }
    }
    g_list_free(windows);
    return giveUp ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// It opens at the start folder, or at home for none, above the window; a
// typed path that is no folder keeps it open, saying so, and is never made.
TEST(HostGlfwTest, PickerOpensAboveTheWindowAndTakesOnlyAnExistingFolder) {
    ASSERT_TRUE(host::create("repodeck test"));
    TempFolder start;
    std::filesystem::create_directories(start / "there");
    std::string above = " above " + std::to_string(host::nativeWindow()), missing = start / "missing/deeper";
    for (auto [from, typed, picked, seen, refusal] :
         std::initializer_list<std::tuple<std::string, std::string, std::optional<std::string>, std::string, std::string>>{
             {start.path(), "", {}, start.path(), ""},
             {"", "", {}, g_get_home_dir(), ""},
             {start.path(), missing, {}, start.path(), "No folder " + missing + ": choose or type one that exists."},
             {start.path(), start / "there", start / "there", start.path(), ""}}) {
        Picker picker{typed, "", "", 0, false};
        guint source = g_timeout_add(100, usePicker, &picker);
        EXPECT_EQ(pickFolder(from, host::nativeWindow()), picked) << typed;
        if (picker.tries <= 200)
            g_source_remove(source);
        EXPECT_EQ(picker.seen, seen + above) << typed;
        EXPECT_EQ(picker.refusal, refusal) << typed;
    }
    EXPECT_FALSE(std::filesystem::exists(start / "missing"));
    host::destroy();
}

// Korean and Hebrew names get their glyphs from the desktop's fonts, merged
// into the atlas; a character that no font has rebuilds nothing.
TEST(HostGlfwTest, FontsGainTheGlyphsOfTheScriptsInTheText) {
    ImGui::CreateContext();
    noteText("/src/한국어/עברית");
    EXPECT_TRUE(fontsWanted());
    buildFonts(1);
    ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    for (ImWchar c : {u'한', u'국', u'ע', u'ב', u'/'})
        EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << int(c);
    noteText("\xef\xbf\xbe");  // U+FFFE, a noncharacter
    EXPECT_FALSE(fontsWanted());
    // A second on, a build stays wanted only for a glyph that the text font
    // has beyond the ranges it always loads.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_FALSE(fontsWanted());
    noteText("\xe2\x98\x80");  // U+2600, a sun
    EXPECT_TRUE(fontsWanted());
    buildFonts(1);
    EXPECT_NE(ImGui::GetIO().Fonts->Fonts[0]->FindGlyphNoFallback(0x2600), nullptr);
    ImGui::DestroyContext();
}

// A stand-in xdg-open, first on the search path, writes its arguments and
// where its standard streams lead, then waits until the test lets it end: the
// path reaches it whole, and openLink returns at once with nothing to reap.
TEST(HostGlfwTest, OpenerGetsThePathAsOneArgumentAndIsNotWaitedFor) {
    auto noChildren = [] { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; };
    TempFolder bin, out;
    std::string savedPath = getenv("PATH");
    setenv("PATH", bin.path().c_str(), 1);
    EXPECT_FALSE(host::openLink("/nowhere"));  // no opener
    EXPECT_TRUE(noChildren());
    writeFile(bin / "xdg-open", "#!/bin/sh\ncd " + quoted(out.path()) + " || exit 1\n" +
                                    "s=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                                    "{ printf '%s\\n' \"$@\"; echo \"$s\"; } >seen.tmp && mv seen.tmp seen\n"
                                    "while [ ! -e release ] && [ -d \"$PWD\" ]; do sleep 0.01; done\n");
    chmod((bin / "xdg-open").c_str(), 0755);
    setenv("PATH", (bin.path() + ":" + savedPath).c_str(), 1);  // for the tools it uses
    const char* path = "/tmp/a b;$(touch x)`touch y` 'q\" #x";
    EXPECT_TRUE(host::openLink(path));
    EXPECT_TRUE(noChildren());
    EXPECT_TRUE(waitForFile(out / "seen"));
    EXPECT_EQ(readFile(out / "seen"), std::string(path) + "\n/dev/null\n/dev/null\n/dev/null\n");
    writeFile(out / "release", "");
    setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
