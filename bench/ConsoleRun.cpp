#include "bench/ConsoleRun.h"

#include <windows.h>

#include <cstdio>

#include "bench/ChildWindows.h"
#include "bench/Fail.h"
#include "bench/Figures.h"

namespace bench {

double RunToExitMs(const std::wstring& path, const std::wstring& arguments, const char* name, std::string& output)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    // Larger than anything the programs print, so they never wait for the driver.
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) Fail("no pipe (error %lu)", GetLastError());
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    const double started = NowMs();
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        Fail("cannot start %s (error %lu)", name, GetLastError());
    WatchChild(process.hProcess);
    if (WaitForSingleObject(process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) Fail("%s did not end", name);
    const double ms = NowMs() - started;
    ForgetChild(process.hProcess);
    CloseHandle(writeEnd);
    output.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) output.append(buffer, got);
    CloseHandle(readEnd);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exitCode != 0) Fail("%s exited with %lu: %s", name, exitCode, output.c_str());
    return ms;
}

// varnock-cli.exe write-suffix and the least C program take turns on the same
// image, swapping places every pair; every run writes another suffix than the
// run before, so each write changes the record.
CliFigures RunCli(const std::wstring& folder, int runs)
{
    const std::wstring cli = folder + L"varnock-cli.exe", least = folder + L"VarnockLeastCli.exe";
    const wchar_t* const suffixes[] = {L"A1", L"B2"};
    CliFigures figures;
    std::string output;
    for (int i = -1; i < runs; ++i) {  // run -1 warms up
        const bool cliFirst = i % 2 == 0;
        double cliMs = 0, leastMs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const wchar_t* const suffix = suffixes[turn];
            if ((turn == 0) == cliFirst) {
                cliMs = RunToExitMs(cli, std::wstring(L"write-suffix ") + suffix, "varnock-cli.exe", output);
                if (output.find("new-serial: ") == std::string::npos ||
                    output.find(Narrow(suffix) + "\r\n") == std::string::npos)
                    Fail("varnock-cli.exe write-suffix %s printed: %s", Narrow(suffix).c_str(), output.c_str());
            } else {
                leastMs = RunToExitMs(least, suffix, "VarnockLeastCli.exe", output);
            }
        }
        if (i < 0) continue;
        figures.cliMs.push_back(cliMs);
        figures.leastMs.push_back(leastMs);
    }
    return figures;
}

void PrintPairTable(const char* first, const char* second, const char* ratio, const std::vector<double>& a,
                    const std::vector<double>& b, int runs, bool raw)
{
    std::printf("  %-30s %-26s %-26s %s\n", "figure: median [range]", first, second, ratio);
    std::printf("  %-30s %-26s %-26s %s\n", "start to exit (ms)", Figure(Summarize(a), 1).c_str(),
                Figure(Summarize(b), 1).c_str(), Figure(Summarize(PairRatios(a, b)), 3).c_str());
    std::printf("  %-30s %-26.1f %-26.1f %.3f\n", "best of N (ms)", Summarize(a).min, Summarize(b).min, BestRatio(a, b));
    if (raw)
        for (int i = 0; i < runs; ++i) std::printf("  pair %3d: %7.1f %7.1f ms\n", i + 1, a[i], b[i]);
    std::fflush(stdout);
}

void PrintCli(const CliFigures& figures, int runs, bool raw)
{
    std::printf("\nvarnock-cli.exe write-suffix: %d runs of each after one warm-up pair, pair by pair, the order\n"
                "swapped every pair. The floor is the least C program making the same five library calls\n"
                "(open, read, write, open, read) through the same import library, built with the same options.\n",
                runs);
    PrintPairTable("varnock-cli.exe", "floor", "varnock-cli / floor, pair by pair", figures.cliMs, figures.leastMs, runs, raw);
}

}  // namespace bench
