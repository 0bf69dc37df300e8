// A console program from start to exit: varnock-cli.exe write-suffix against
// the least C program making the same five library calls (LeastCli.c), pair
// by pair.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Starts a console program with stdout and stderr on a pipe and waits for it to
// end; returns the time from CreateProcess to the end, and what it printed.
// Fails unless it exits with 0.
double RunToExitMs(const std::wstring& path, const std::wstring& arguments, const char* name, std::string& output);

struct CliFigures {
    std::vector<double> cliMs, leastMs;
};

CliFigures RunCli(const std::wstring& folder, int runs);
void PrintCli(const CliFigures& figures, int runs, bool raw);

// A table of one row, start to exit, for two console programs run in pairs;
// --raw adds every pair.
void PrintPairTable(const char* first, const char* second, const char* ratio, const std::vector<double>& a,
                    const std::vector<double>& b, int runs, bool raw);

}  // namespace bench
