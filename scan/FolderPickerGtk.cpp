// GTK 3's native folder chooser, run modally on the user interface thread.
#include "scan/FolderPicker.h"

#include <gtk/gtk.h>

#include "log/LogPane.h"

std::optional<std::string> pickFolder() {
    // GTK starts on first use only, so a session without it still runs.
    // Without its setlocale, so the rest of the program keeps the C locale.
    static const bool gtkReady = (gtk_disable_setlocale(), gtk_init_check(nullptr, nullptr));
    if (!gtkReady) {
        logsPane.write("[ERROR] The folder picker could not be opened: GTK could not start on this display.\n");
        return std::nullopt;
    }

    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        "Parse Folders to find Git repositories.", nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr, nullptr);
    std::optional<std::string> folder;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        // No local path (a remote location, say) gives an empty folder.
        char* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        folder = path ? path : "";
        g_free(path);
    }
    g_object_unref(chooser);
    // Let GTK take the closed dialog off the screen before the scan begins.
    while (gtk_events_pending())
        gtk_main_iteration();
    return folder;
}
