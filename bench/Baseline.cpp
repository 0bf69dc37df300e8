// The floor the benchmark measures Varnock.exe against: the least Win32
// program that shows one resource dialog and nothing else.
#include <windows.h>

#include "bench/Baseline.h"

static INT_PTR CALLBACK BaselineDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // focus on the first tab stop
    case WM_COMMAND:
        // Esc, the close box and Enter end it, as they end Varnock's window.
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// wWinMain, as Varnock.exe has: it is built with the same -municode.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_BASELINE), nullptr, BaselineDialogProc, 0);
    return 0;
}
