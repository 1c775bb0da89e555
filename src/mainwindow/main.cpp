// The windowed launcher: start-up runs, and its owner dialog step shows the launcher window until
// the player closes it or the game starts.

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "app/CVeltranoApp.h"
#include "config/Log.h"
#include "mainwindow/Game_MainDialog.h"
#include "update/Install.h"
#include "window/WindowServices.h"

int main(int argc, char** argv) {
    veltrano::CVeltranoApp app(argc, argv);
    // Without its window the launcher did nothing the player asked for: a failure, not a normal end.
    bool windowFailed = false;
    app.setOwnerDialogRunner([&argc, &argv, &windowFailed] {
        if (!gtk_init_check(&argc, &argv)) {
            const char* display = getenv("DISPLAY");
            veltrano::writeLog("cannot open display \"%s\": the launcher window cannot open",
                               display ? display : "");
            std::fprintf(stderr, "veltrano: cannot open display \"%s\": the launcher window cannot open\n",
                         display ? display : "");
            windowFailed = true;
            return;
        }
        // Never destroyed before the process ends: the updater and pending requests may still call in.
        auto* dialog = new veltrano::Game_MainDialog(veltrano::defaultWindowServices());
        if (dialog->OnInitDialog())
            dialog->run();
        else {
            veltrano::writeLog("the launcher window could not be created");
            std::fprintf(stderr, "veltrano: the launcher window could not be created\n");
            windowFailed = true;
        }
        // Closed while installing: the staging folder is cleaned at the next start, but an
        // exchange of the game folders that has begun must end before the process does.
        veltrano::holdInstallExchanges();
    });
    app.InitInstance();
    const int status = app.ExitInstance();
    return windowFailed ? EXIT_FAILURE : status;
}
