// GTK 3's folder chooser dialog, run modally on the user interface thread.
// The dialog itself rather than GtkFileChooserNative, so that it can be made
// transient for repodeck's window (GLFW's, not a GTK window), and so that its
// answer is checked before GTK acts on it: GTK's own accept answer makes a
// typed folder that does not exist, whatever set_create_folders says.
#include "app/FolderPicker.h"

#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include "app/Host.h"
#include "app/Panes.h"

namespace {

// The Select button's answer: none of GTK's accept answers, so GTK hands it
// over as it is and the path is checked here.
constexpr int selected = 1;
constexpr guint redrawMilliseconds = 50;

}  // namespace

std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner) {
    // GTK starts on first use only, so a session without it still runs.
    // Without its setlocale, so the rest of the program keeps the C locale.
    static const bool gtkReady = (gtk_disable_setlocale(), gtk_init_check(nullptr, nullptr));
    if (!gtkReady) {
        logsPane.write("[ERROR] The folder picker could not be opened: GTK could not start on this display.\n");
        return std::nullopt;
    }

    GtkWidget* dialog =
        gtk_file_chooser_dialog_new("Parse Folders to find Git repositories.", nullptr,
                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_Select",
                                    selected, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), selected);  // Enter in the path field too
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_create_folders(chooser, FALSE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    GtkWidget* refusal = gtk_label_new(nullptr);  // why a typed path was refused
    gtk_file_chooser_set_extra_widget(chooser, refusal);
    // A folder to start in, so it never opens on the "Recent" list.
    std::string start = startFolder;
    if (start.empty() || !g_file_test(start.c_str(), G_FILE_TEST_IS_DIR))
        start = g_get_home_dir();
    gtk_file_chooser_set_current_folder(chooser, start.c_str());

    gtk_widget_realize(dialog);
    GdkDisplay* display = gtk_widget_get_display(dialog);
    GdkWindow* parent = nullptr;
    if (owner && GDK_IS_X11_DISPLAY(display))
        parent = gdk_x11_window_foreign_new_for_display(display, Window(owner));
    if (parent)
        gdk_window_set_transient_for(gtk_widget_get_window(dialog), parent);
    // The window under the dialog keeps showing its last frame, also where
    // the dialog was moved away from.
    guint redraw = g_timeout_add(redrawMilliseconds, [](gpointer) { host::presentAgain(); return gboolean(G_SOURCE_CONTINUE); },
                                 nullptr);

    std::optional<std::string> folder;
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == selected) {
        // No local path (a remote location, say) gives an empty folder.
        g_autofree char* path = gtk_file_chooser_get_filename(chooser);
        if (!path || g_file_test(path, G_FILE_TEST_IS_DIR)) {
            folder = path ? path : "";
            break;
        }
        g_autofree char* why = g_strdup_printf("No folder %s: choose or type one that exists.", path);
        gtk_label_set_text(GTK_LABEL(refusal), why);
        gtk_widget_show(refusal);
    }
    g_source_remove(redraw);
    gtk_widget_destroy(dialog);
    if (parent)
        g_object_unref(parent);
    // Let GTK take the closed dialog off the screen before the scan begins.
    while (gtk_events_pending())
        gtk_main_iteration();
    return folder;
}
