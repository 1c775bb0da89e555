#include "platform/WindowMessage.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace veltrano {

namespace {

const wchar_t kClassName[] = L"VeltranoMessageReceiver";

}  // namespace

// A message-only window served by its own thread, so messages arrive whatever the owner's thread does.
struct WindowMessageReceiver::Window {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<CopyDataMessage> queue;
    HWND handle = nullptr;
    bool ready = false;
    std::thread thread;

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message == WM_COPYDATA && self) {
            const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            CopyDataMessage msg;
            msg.wordParam = static_cast<int64_t>(wParam);
            msg.dwData = static_cast<uint64_t>(cds->dwData);
            if (cds->cbData && cds->lpData)
                msg.data.assign(static_cast<const char*>(cds->lpData), cds->cbData);
            {
                std::lock_guard<std::mutex> guard(self->lock);
                self->queue.push_back(std::move(msg));
            }
            self->changed.notify_all();
            return TRUE;
        }
        if (message == WM_CLOSE) {
            DestroyWindow(hwnd);
            return 0;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void run() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        RegisterClassExW(&wc);  // fails harmlessly when a second receiver registers it again
        HWND hwnd =
            CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        {
            std::lock_guard<std::mutex> guard(lock);
            handle = hwnd;
            ready = true;
        }
        changed.notify_all();
        if (!hwnd) return;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
};

bool sendCopyData(int64_t targetWindow, int64_t senderWindow, uint64_t dwData, const void* data,
                  uint32_t size) {
    if (size > 0 && !data) return false;
    HWND target = reinterpret_cast<HWND>(static_cast<intptr_t>(targetWindow));
    if (!target || !IsWindow(target)) return false;
    COPYDATASTRUCT cds;
    cds.dwData = static_cast<ULONG_PTR>(dwData);
    cds.cbData = size;
    cds.lpData = const_cast<void*>(data);
    DWORD_PTR result = 0;
    // A hung receiver must not hang the sender; the reply itself carries nothing.
    return SendMessageTimeoutW(target, WM_COPYDATA, static_cast<WPARAM>(senderWindow),
                               reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG | SMTO_BLOCK, 500,
                               &result) != 0;
}

WindowMessageReceiver::WindowMessageReceiver(int64_t) : window_(std::make_unique<Window>()) {
    Window* w = window_.get();
    w->thread = std::thread([w] { w->run(); });
    std::unique_lock<std::mutex> guard(w->lock);
    w->changed.wait(guard, [w] { return w->ready; });
    windowId_ = static_cast<int64_t>(reinterpret_cast<intptr_t>(w->handle));
}

WindowMessageReceiver::~WindowMessageReceiver() {
    if (window_->handle) PostMessageW(window_->handle, WM_CLOSE, 0, 0);
    if (window_->thread.joinable()) window_->thread.join();
}

bool WindowMessageReceiver::isOpen() const {
    return window_->handle != nullptr;
}

std::optional<CopyDataMessage> WindowMessageReceiver::poll() {
    std::lock_guard<std::mutex> guard(window_->lock);
    if (window_->queue.empty()) return std::nullopt;
    CopyDataMessage msg = std::move(window_->queue.front());
    window_->queue.pop_front();
    return msg;
}

std::optional<CopyDataMessage> WindowMessageReceiver::wait(int timeoutMs) {
    std::unique_lock<std::mutex> guard(window_->lock);
    window_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [this] { return !window_->queue.empty(); });
    if (window_->queue.empty()) return std::nullopt;
    CopyDataMessage msg = std::move(window_->queue.front());
    window_->queue.pop_front();
    return msg;
}

}  // namespace veltrano
