// The two actions, read ("打开") and write ("写参数"): the library's own time
// for their calls, and the time from a click in a window (Varnock's, or the
// least window) to the result on the screen, all taking turns.
#pragma once

#include <string>
#include <vector>

#include "bench/ProgramRun.h"
#include "device/DeviceLibrary.h"

namespace bench {

// What Varnock's window and the least window have alike.
constexpr int kIdOpen = 1001;
constexpr int kIdWrite = 1002;
constexpr int kIdProductName = 1022;
// The seven fields, in the order Varnock fills them.
constexpr int kFieldIds[] = {1020, 1018, 1023, kIdProductName, 1021, 1000, 1019};
constexpr wchar_t kWriteSucceeded[] = L"\u5199\u8BBE\u5907\u4FE1\u606F\u6210\u529F!";  // 写设备信息成功!

// The device library as Varnock binds it: by export number.
DeviceLibrary LoadDeviceLibrary(const std::wstring& folder);

struct ActionFigures {
    std::vector<double> libraryRead, varnockRead, leastRead;
    std::vector<double> libraryWrite, varnockWrite, leastWrite;
};

// Starts both windows, runs the actions `runs` times after one warm-up round,
// and closes them.
ActionFigures RunActions(const DeviceLibrary& library, const Program& varnock, const Program& leastWindow, int runs);
// The table, with Varnock's extra time and its ratio to the least window.
void PrintActions(const ActionFigures& actions, int runs);

}  // namespace bench
