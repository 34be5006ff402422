// What Wine costs by itself: a hidden top-level window in a message loop and nothing else, no timer,
// no notification-area icon. Bench/window-cpu counts its wake-ups beside Velotrix.exe's, so that
// what Wine's own threads do for any GUI program is told apart from what the program asks for.
// It ends when its window is closed (or its process killed).

#include <windows.h>

namespace {

LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &FloorProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VelotrixWineFloor";
    if (RegisterClassExW(&windowClass) == 0) return 1;
    if (CreateWindowExW(0, windowClass.lpszClassName, L"Wine floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        400, 300, nullptr, nullptr, instance, nullptr) == nullptr)
        return 1;
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
