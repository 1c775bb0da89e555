// The launcher's start-up without a window. The owner dialog's place is taken by a stand-in that
// prints the launch values as name=value lines and, with STARTUP_TEST_HOLD set, keeps the launcher
// running until its standard input closes.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CVeltranoApp.h"
#include "app/LaunchParams.h"

int main(int argc, char** argv) {
    veltrano::CVeltranoApp app(argc, argv);
    app.setOwnerDialogRunner([&app] {
        veltrano::LaunchParams* params = veltrano::LaunchParams::instance();
        std::printf(
            "fileparam=%s\ntoken=%s\nsource=%s\nserverid=%s\nfcext=%s\nparentWindow=%lld\n"
            "userName=%s\nurl=%s\n",
            params->fileparam().c_str(), params->token().c_str(), params->source().c_str(),
            params->serverid().c_str(), params->fcext().c_str(),
            static_cast<long long>(params->parentWindow()), app.userName().c_str(),
            params->buildWebUrl().c_str());
        if (std::getenv("STARTUP_TEST_HOLD")) {
            std::printf("owner dialog running\n");
            std::fflush(stdout);
            char c;
            while (read(0, &c, 1) > 0) {
            }
        }
        std::fflush(stdout);
    });
    app.InitInstance();
    return app.ExitInstance();
}
