// The windowed launcher on Windows: start-up runs, and its owner dialog step shows the launcher
// window until the player closes it or the game starts.

#include <windows.h>

#include <objidl.h>
#include <ole2.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/CVeltranoApp.h"
#include "config/Log.h"
#include "platform/CommandLine.h"
#include "update/Install.h"
#include "window/WindowServices.h"
#include "winui/Game_MainDialog.h"

int main(int argc, char** argv) {
    // The narrow arguments are in the ANSI code page; start-up takes them as UTF-8.
    const std::vector<std::string> args = veltrano::systemArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (const std::string& a : args) utf8Argv.push_back(const_cast<char*>(a.c_str()));
    utf8Argv.push_back(nullptr);
    veltrano::CVeltranoApp app(static_cast<int>(args.size()), utf8Argv.data());

    bool windowFailed = false;
    app.setOwnerDialogRunner([&windowFailed] {
        // The page's browser control is an OLE object of this thread.
        const HRESULT ole = OleInitialize(nullptr);
        if (FAILED(ole)) veltrano::writeLog("OleInitialize failed: 0x%08lx", static_cast<unsigned long>(ole));
        ULONG_PTR gdiplusToken = 0;
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
            veltrano::writeLog("GdiplusStartup failed: the launcher window cannot be drawn");
            gdiplusToken = 0;
        }
        auto* dialog = new veltrano::Game_MainDialog(veltrano::defaultWindowServices());
        if (dialog->OnInitDialog()) {
            dialog->run();
        } else {
            veltrano::writeLog("the launcher window could not be created");
            windowFailed = true;
        }
        // Closed while installing: an exchange of the game folders that has begun must end before
        // the process does.
        veltrano::holdInstallExchanges();
        // The windows hold GDI+ images and the page's OLE objects: they go before both libraries.
        delete dialog;
        if (gdiplusToken) Gdiplus::GdiplusShutdown(gdiplusToken);
        if (SUCCEEDED(ole)) OleUninitialize();
    });
    app.InitInstance();
    const int status = app.ExitInstance();
    return windowFailed ? EXIT_FAILURE : status;
}
