// GTK 3's folder chooser dialog, run modally on the user interface thread.
// The dialog itself rather than GtkFileChooserNative, so that it can be made
// transient for repodeck's window, which is GLFW's and not a GTK window.
#include "scan/FolderPicker.h"

#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include "log/LogPane.h"

std::optional<std::string> pickFolder(const std::string& startFolder, uintptr_t owner) {
    // GTK starts on first use only, so a session without it still runs.
    // Without its setlocale, so the rest of the program keeps the C locale.
    static const bool gtkReady = (gtk_disable_setlocale(), gtk_init_check(nullptr, nullptr));
    if (!gtkReady) {
        logsPane.write("[ERROR] The folder picker could not be opened: GTK could not start on this display.\n");
        return std::nullopt;
    }

    GtkWidget* dialog = gtk_file_chooser_dialog_new("Parse Folders to find Git repositories.", nullptr,
                                                    GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                                    GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    // A typed name that does not exist is refused, never made.
    gtk_file_chooser_set_create_folders(chooser, FALSE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
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

    std::optional<std::string> folder;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        // No local path (a remote location, say) gives an empty folder.
        char* path = gtk_file_chooser_get_filename(chooser);
        folder = path ? path : "";
        g_free(path);
    }
    gtk_widget_destroy(dialog);
    if (parent)
        g_object_unref(parent);
    // Let GTK take the closed dialog off the screen before the scan begins.
    while (gtk_events_pending())
        gtk_main_iteration();

    if (folder && !folder->empty() && !g_file_test(folder->c_str(), G_FILE_TEST_IS_DIR)) {
        logsPane.write("[ERROR] Not a folder, nothing scanned: ");
        logsPane.write(*folder);
        logsPane.write("\n");
        return std::nullopt;
    }
    return folder;
}
