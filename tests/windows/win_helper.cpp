// A small program the Windows platform tests start.
//   win_helper sleep               waits until it is ended
//   win_helper -workdir <folder> ...  (started as the game) writes its UTF-8 arguments to
//                                  <folder>argv.txt, each followed by a NUL byte
//   win_helper receive <folder>    opens a message window, writes its id to <folder>/window.txt and
//                                  the first copy-data message to <folder>/message.bin
//                                  ("<dwData> <wordParam>\n" then the data); ends after it
//   win_helper portal <folder> <rrggbb>  the portal's window: covers the screen in one colour below
//                                  every other window, writes its handle to <folder>/window.txt and
//                                  the first copy-data message to <folder>/message.bin as above;
//                                  ends after it
//   win_helper copydata <class> <dwData>  sends a copy-data message with one byte to the first
//                                  window of that class; exit code 0 when it was delivered
// Files appear whole: written beside, then renamed.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "platform/Wide.h"
#include "platform/WindowMessage.h"

namespace {

bool writeWhole(const std::string& path, const std::string& bytes) {
    const std::string part = path + ".part";
    FILE* f = veltrano::openFile(part, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && veltrano::FileUtils::instance()->renameFile(part, path);
}

struct Portal {
    std::string folder;
    COLORREF colour = 0;
    bool written = false;
};

LRESULT CALLBACK portalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* portal = reinterpret_cast<Portal*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT && portal) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        HBRUSH brush = CreateSolidBrush(portal->colour);
        FillRect(dc, &ps.rcPaint, brush);
        DeleteObject(brush);
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (message == WM_COPYDATA && portal && !portal->written) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        std::string body = std::to_string(static_cast<uint64_t>(cds->dwData)) + " " +
                           std::to_string(static_cast<int64_t>(static_cast<intptr_t>(wParam))) + "\n";
        if (cds->cbData && cds->lpData) body.append(static_cast<const char*>(cds->lpData), cds->cbData);
        portal->written = writeWhole(portal->folder + "/message.bin", body);
        PostQuitMessage(portal->written ? 0 : 5);
        return TRUE;
    }
    // Stays below the launcher's windows whatever is clicked.
    if (message == WM_WINDOWPOSCHANGING) {
        reinterpret_cast<WINDOWPOS*>(lParam)->hwndInsertAfter = HWND_BOTTOM;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int runPortal(const std::string& folder, const std::string& rrggbb) {
    const unsigned long rgb = std::strtoul(rrggbb.c_str(), nullptr, 16);
    Portal portal{folder, RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF)};
    WNDCLASSW wc{};
    wc.lpfnWndProc = portalProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VeltranoTestPortal";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(WS_EX_NOACTIVATE, wc.lpszClassName, L"Veltrano test portal", WS_POPUP, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 2;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&portal));
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd);
    if (!writeWhole(folder + "/window.txt", std::to_string(reinterpret_cast<intptr_t>(hwnd)))) return 3;
    // Bounded by the window test's time limit: a test that never closes the launcher does not leave
    // this program behind, and a slow run, whose waits before the closing may take minutes, keeps it.
    SetTimer(hwnd, 1, 900000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == hwnd) return 4;
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = veltrano::systemArguments(argc, argv);
    if (args.size() >= 2 && args[1] == "sleep") {
        Sleep(INFINITE);
        return 0;
    }
    if (args.size() >= 3 && args[1] == "-workdir") {
        std::string all;
        for (const std::string& a : args) all += a + '\0';
        return writeWhole(args[2] + "argv.txt", all) ? 0 : 1;
    }
    if (args.size() >= 3 && args[1] == "receive") {
        veltrano::WindowMessageReceiver receiver(0);
        if (!receiver.isOpen()) return 2;
        if (!writeWhole(args[2] + "/window.txt", std::to_string(receiver.windowId()))) return 3;
        // Bounded, so a test that never sends does not leave this program behind.
        auto msg = receiver.wait(120000);
        if (!msg) return 4;
        const std::string head = std::to_string(msg->dwData) + " " + std::to_string(msg->wordParam) + "\n";
        return writeWhole(args[2] + "/message.bin", head + msg->data) ? 0 : 5;
    }
    if (args.size() >= 4 && args[1] == "portal") return runPortal(args[2], args[3]);
    if (args.size() >= 4 && args[1] == "copydata") {
        HWND target = FindWindowW(veltrano::toWide(args[2]).c_str(), nullptr);
        if (!target) return 1;
        return veltrano::sendCopyData(static_cast<int64_t>(reinterpret_cast<intptr_t>(target)), 0,
                                      std::strtoull(args[3].c_str(), nullptr, 10), "x", 1)
                   ? 0
                   : 2;
    }
    return 64;
}
