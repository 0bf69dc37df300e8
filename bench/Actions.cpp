#include "bench/Actions.h"

#include <windows.h>

#include <cstdio>

#include "bench/ChildWindows.h"
#include "bench/Fail.h"
#include "bench/Figures.h"
#include "otherwindows/OtherWindows.h"

namespace bench {

namespace {

constexpr wchar_t kFactoryProductName[] = L"Virtual CAN";

template <typename Function>
Function Export(HMODULE module, int number)
{
    // Through void(*)(), the generic function pointer, to say the cast is meant.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(number))));
}

// What the read action asks of the library: open, then read.
double LibraryReadMs(const DeviceLibrary& library, DeviceInfo& info)
{
    const double started = NowMs();
    const DeviceResult opened = library.DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0);
    const DeviceResult read = library.DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &info);
    const double ms = NowMs() - started;
    if (opened != DEVICE_RESULT_OK || read != DEVICE_RESULT_OK) Fail("the library's open or read failed");
    return ms;
}

double LibraryWriteMs(const DeviceLibrary& library, DeviceInfo& info)
{
    const double started = NowMs();
    const DeviceResult written = library.DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &info);
    const double ms = NowMs() - started;
    if (written != DEVICE_RESULT_OK) Fail("the library's write failed");
    return ms;
}

// A window the two actions can be clicked in: Varnock's, or the least one.
struct ActionWindow {
    HWND window;
    const char* name;
};

void Click(HWND window, int id)
{
    // What the button sends its parent when it is clicked. Posted, so the
    // driver is not held up by the handler or by a message box it opens.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(window, id)));
}

// Both windows make their boxes on their one GUI thread; searching only it
// keeps the polling light while the clock runs.
constexpr bool kOwnerThreadOnly = true;

// "打开": from the click until the product-name field is filled in again.
// All seven fields are emptied first, so that every one changes, as on the
// first read: a window that leaves unchanged texts alone does the whole work.
double ClickReadMs(const ActionWindow& target)
{
    for (const int id : kFieldIds) {
        const HWND field = GetDlgItem(target.window, id);
        if (!field) Fail("%s has no control %d", target.name, id);
        Call(field, WM_SETTEXT, 0, LPARAM(L""));
    }
    const HWND field = GetDlgItem(target.window, kIdProductName);
    const double started = NowMs();
    Click(target.window, kIdOpen);
    // Each question waits until the window's thread has time for it, so the
    // first answer after the handler is the one that sees the new text.
    while (Call(field, WM_GETTEXTLENGTH) == 0) {
        if (const HWND box = otherwindows::OwnedDialog(target.window, kOwnerThreadOnly))
            Fail("the read action in %s said \"%s\"", target.name, Narrow(MessageBoxText(box)).c_str());
        if (NowMs() - started > kTimeoutMs) Fail("the read action in %s changed nothing", target.name);
    }
    const double ms = NowMs() - started;
    const std::wstring name = WindowText(field);
    if (name != kFactoryProductName)
        Fail("the read action in %s showed product \"%s\"", target.name, Narrow(name).c_str());
    return ms;
}

// "写参数": from the click until the message box is up; then dismisses it.
double ClickWriteMs(const ActionWindow& target)
{
    const double started = NowMs();
    Click(target.window, kIdWrite);
    HWND box;
    while (!(box = otherwindows::OwnedDialog(target.window, kOwnerThreadOnly))) {
        Call(target.window, WM_NULL);  // waits while the handler runs
        if (NowMs() - started > kTimeoutMs) Fail("the write action in %s showed no message", target.name);
    }
    const double ms = NowMs() - started;
    const std::wstring text = MessageBoxText(box);
    if (text != kWriteSucceeded) Fail("the write action in %s said \"%s\"", target.name, Narrow(text).c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    while (IsWindow(box)) {
        Call(target.window, WM_NULL);
        if (NowMs() - started > 2 * kTimeoutMs) Fail("the message box in %s did not close", target.name);
    }
    return ms;
}

// The windows go on repainting after an action; each measurement waits this
// long first, so it does not share the processor with the one before.
void Settle()
{
    Sleep(30);
}

}  // namespace

DeviceLibrary LoadDeviceLibrary(const std::wstring& folder)
{
    const HMODULE module = LoadLibraryW((folder + L"Qelvo_CAN.dll").c_str());
    if (!module) Fail("cannot load Qelvo_CAN.dll (error %lu)", GetLastError());
    const DeviceLibrary library{Export<DeviceOpenFn>(module, 1), Export<DeviceInfoReadFn>(module, 6),
                                Export<DeviceInfoWriteFn>(module, 5)};
    if (!library.DeviceOpen || !library.DeviceInfoRead || !library.DeviceInfoWrite)
        Fail("Qelvo_CAN.dll lacks export 1, 5 or 6");
    return library;
}

// Library, Varnock's window and the least window take turns, call for call,
// on the same image file; the two windows swap places every round.
ActionFigures RunActions(const DeviceLibrary& library, const Program& varnock, const Program& leastWindow, int runs)
{
    double startMs = 0;
    Running varnockRunning = Start(varnock, startMs);
    Running leastRunning = Start(leastWindow, startMs);
    const ActionWindow varnockTarget{varnockRunning.window, "Varnock's window"};
    const ActionWindow leastTarget{leastRunning.window, "the least window"};

    ActionFigures figures;
    DeviceInfo info{};
    for (int i = -1; i < runs; ++i) {  // run -1 warms up
        const bool varnockFirst = i % 2 == 0;
        const auto inTurn = [&](double (*action)(const ActionWindow&), double& varnockMs, double& leastMs) {
            Settle();
            (varnockFirst ? varnockMs : leastMs) = action(varnockFirst ? varnockTarget : leastTarget);
            Settle();
            (varnockFirst ? leastMs : varnockMs) = action(varnockFirst ? leastTarget : varnockTarget);
        };
        double varnockRead, leastRead, varnockWrite, leastWrite;
        Settle();
        const double libraryRead = LibraryReadMs(library, info);
        inTurn(ClickReadMs, varnockRead, leastRead);
        Settle();
        const double libraryWrite = LibraryWriteMs(library, info);
        inTurn(ClickWriteMs, varnockWrite, leastWrite);
        if (i < 0) continue;
        figures.libraryRead.push_back(libraryRead);
        figures.varnockRead.push_back(varnockRead);
        figures.leastRead.push_back(leastRead);
        figures.libraryWrite.push_back(libraryWrite);
        figures.varnockWrite.push_back(varnockWrite);
        figures.leastWrite.push_back(leastWrite);
    }
    Close(varnockRunning, varnock.name);
    Close(leastRunning, leastWindow.name);
    return figures;
}

void PrintActions(const ActionFigures& actions, int runs)
{
    std::printf("\nActions (ms, median [range]): %d of each, VADAPTER_DELAY_MS=0. The library alone, Varnock's\n"
                "window and the least window (another process calling the library from a bare window\n"
                "procedure, with Varnock's common controls 6) take turns, 30 ms apart.\n",
                runs);
    std::printf("  %-36s %-28s %s\n", "", "read: open + read, fields", "write: write, message box");
    const struct {
        const char* name;
        std::vector<double> read, write;
    } rows[] = {
        {"library alone", actions.libraryRead, actions.libraryWrite},
        {"Varnock.exe, click to result", actions.varnockRead, actions.varnockWrite},
        {"least window, click to result", actions.leastRead, actions.leastWrite},
        {"Varnock adds to the library", PairDifferences(actions.varnockRead, actions.libraryRead),
         PairDifferences(actions.varnockWrite, actions.libraryWrite)},
        {"Varnock adds to the least window", PairDifferences(actions.varnockRead, actions.leastRead),
         PairDifferences(actions.varnockWrite, actions.leastWrite)},
        {"Varnock / least window, pair by pair", PairRatios(actions.varnockRead, actions.leastRead),
         PairRatios(actions.varnockWrite, actions.leastWrite)},
    };
    for (const auto& row : rows)
        std::printf("  %-36s %-28s %s\n", row.name, Figure(Summarize(row.read), 3).c_str(),
                    Figure(Summarize(row.write), 3).c_str());
    std::fflush(stdout);
}

}  // namespace bench
