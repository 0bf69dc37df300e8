#include "bench/Fail.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

namespace {
std::vector<HANDLE> g_children;
std::vector<std::wstring> g_files;
}  // namespace

void Fail(const char* format, ...)
{
    for (HANDLE child : g_children) TerminateProcess(child, 1);
    // A child may still hold a file open until it is gone.
    for (HANDLE child : g_children) WaitForSingleObject(child, 2000);
    for (const std::wstring& path : g_files) DeleteFileW(path.c_str());
    va_list args;
    va_start(args, format);
    std::fputs("bench: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::exit(2);
}

void WatchChild(HANDLE process)
{
    g_children.push_back(process);
}

void RemoveOnFailure(const std::wstring& path)
{
    g_files.push_back(path);
}

void ForgetChild(HANDLE process)
{
    g_children.erase(std::remove(g_children.begin(), g_children.end(), process), g_children.end());
}

}  // namespace bench
