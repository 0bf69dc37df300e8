// One run of a program with a window: the time from CreateProcess until its
// main window is visible and idle, its peak working set, and the time from
// WM_CLOSE until the process ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

struct Program {
    const char* name;
    std::wstring path;
    const wchar_t* arguments;  // after the program's name on its command line
    const wchar_t* className;  // of its main window
    const wchar_t* title;      // of its main window; nullptr: any
    bool console;              // WaitForInputIdle does not work on it
};

struct Running {
    PROCESS_INFORMATION process;
    HWND window;
};

// Starts the program and returns once its main window is visible and the
// process waits for input; `startMs` is the time that took.
Running Start(const Program& program, double& startMs);
double PeakWorkingSetKiB(const Running& running);
// Closes the main window as its close box would and waits for the process
// to end; returns the time that took.
double Close(Running& running, const char* name);

struct StartFigures {
    std::vector<double> startMs, peakKiB, closeMs;
};

// Start, peak, close; the figures are added to `figures` unless it is nullptr.
void RunOnce(const Program& program, StartFigures* figures);

}  // namespace bench
