#include "bench/ProgramRun.h"

#include <psapi.h>

#include "bench/ChildWindows.h"
#include "bench/Fail.h"
#include "bench/Figures.h"
#include "otherwindows/OtherWindows.h"

namespace bench {

Running Start(const Program& program, double& startMs)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program.path + L"\" " + program.arguments;
    Running running{};
    const double started = NowMs();
    if (!CreateProcessW(program.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &running.process))
        Fail("cannot start %s (error %lu)", program.name, GetLastError());
    WatchChild(running.process.hProcess);
    const DWORD idle = WaitForInputIdle(running.process.hProcess, kTimeoutMs);
    if (idle != 0 && !program.console) Fail("%s did not become idle (WaitForInputIdle returned %lu)", program.name, idle);
    while (!(running.window =
                 otherwindows::MainWindow(running.process.dwProcessId, program.className, program.title))) {
        DWORD code = 0;
        if (GetExitCodeProcess(running.process.hProcess, &code) && code != STILL_ACTIVE)
            Fail("%s ended with 0x%lx before it showed its main window", program.name, code);
        if (NowMs() - started > kTimeoutMs) Fail("%s showed no main window", program.name);
        Sleep(1);
    }
    startMs = NowMs() - started;
    return running;
}

double PeakWorkingSetKiB(const Running& running)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(running.process.hProcess, &counters, sizeof counters))
        Fail("no memory figures for the child (error %lu)", GetLastError());
    return double(counters.PeakWorkingSetSize) / 1024;
}

double Close(Running& running, const char* name)
{
    const double closing = NowMs();
    PostMessageW(running.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(running.process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(running.process.hProcess, 1);
        Fail("%s did not end after WM_CLOSE", name);
    }
    const double closedMs = NowMs() - closing;
    ForgetChild(running.process.hProcess);
    CloseHandle(running.process.hThread);
    CloseHandle(running.process.hProcess);
    return closedMs;
}

void RunOnce(const Program& program, StartFigures* figures)
{
    double startMs = 0;
    Running running = Start(program, startMs);
    const double peakKiB = PeakWorkingSetKiB(running);
    const double closeMs = Close(running, program.name);
    if (figures) {
        figures->startMs.push_back(startMs);
        figures->peakKiB.push_back(peakKiB);
        figures->closeMs.push_back(closeMs);
    }
}

}  // namespace bench
