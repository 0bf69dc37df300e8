// The benchmark driver. It starts Varnock.exe and the baseline dialogs in turn
// (one Wine session), and for each start measures the time from
// CreateProcess until the main window is visible and idle, and the process's
// peak working set. It times varnock-cli.exe write-suffix from start to exit
// against the least C program making the same library calls
// (VarnockLeastCli.exe), and varnock-cli.exe provision on a ledger of 10,000
// lines against write-suffix. Then it times the read and write actions through a
// running Varnock window against the device library's own time for the same
// calls and against the least window that does the same (this program, started
// with --least-window), and prints the executables' sizes and imports.
//
//   VarnockBench.exe [--runs N] [--starts-only] [--raw] [--sizes LABEL FOLDER]...
//   VarnockBench.exe --least-window
//
// It runs from the bin folder where Varnock.exe, varnock-cli.exe, the
// VarnockBaseline*.exe, VarnockLeastCli.exe and Qelvo_CAN.dll sit side by
// side. Each --sizes adds a row to the size table for the executables in
// FOLDER (the other architecture, stripped copies); the size target is checked
// on the rows whose label says "stripped". --starts-only skips the actions,
// for trying out variants of the programs; --raw prints every start's and
// every command-line run's figures as well.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/DeviceLibrary.h"

namespace {

constexpr int kIdOpen = 1001;
constexpr int kIdWrite = 1002;
constexpr int kIdProductName = 1022;
constexpr DWORD kTimeoutMs = 10000;
// The seven fields, in the order Varnock fills them.
constexpr int kFieldIds[] = {1020, 1018, 1023, kIdProductName, 1021, 1000, 1019};
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kFactoryProductName[] = L"Virtual CAN";
constexpr wchar_t kWriteSucceeded[] = L"\u5199\u8BBE\u5907\u4FE1\u606F\u6210\u529F!";  // 写设备信息成功!

// The children that are running, so that a failure does not leave them behind.
std::vector<HANDLE> g_children;

[[noreturn]] void Fail(const char* format, ...)
{
    for (HANDLE child : g_children) TerminateProcess(child, 1);
    va_list args;
    va_start(args, format);
    std::fputs("bench: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::exit(2);
}

std::string Narrow(const std::wstring& text)
{
    std::string bytes(text.size() * 3 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], int(bytes.size()),
                                      nullptr, nullptr);
    bytes.resize(n > 0 ? size_t(n) : 0);
    return bytes;
}

// --- Time and figures ------------------------------------------------------

double g_ticksPerMs;

double NowMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / g_ticksPerMs;
}

struct Summary {
    double median, min, max;
};

Summary Summarize(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

std::vector<double> PairRatios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size(); ++i) ratios.push_back(a[i] / b[i]);
    return ratios;
}

std::vector<double> PairDifferences(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> differences;
    for (size_t i = 0; i < a.size(); ++i) differences.push_back(a[i] - b[i]);
    return differences;
}

std::string Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// "12.34 [11.90-15.02]" with the given number of decimals.
std::string Figure(const Summary& s, int decimals)
{
    return Format("%.*f [%.*f-%.*f]", decimals, s.median, decimals, s.min, decimals, s.max);
}

// --- Windows of the child ----------------------------------------------------

bool IsVisibleWindowOf(HWND window, const wchar_t* className)
{
    wchar_t name[64];
    return GetClassNameW(window, name, 64) && std::wcscmp(name, className) == 0 && IsWindowVisible(window);
}

bool IsDialogWindow(HWND window)
{
    return IsVisibleWindowOf(window, kDialogClass);
}

struct MainWindowQuery {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* title;  // nullptr: any
    HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<MainWindowQuery*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != query->processId || !IsVisibleWindowOf(window, query->className) || GetWindow(window, GW_OWNER))
        return TRUE;
    if (query->title) {
        wchar_t title[64];
        if (!GetWindowTextW(window, title, 64) || std::wcscmp(title, query->title) != 0) return TRUE;
    }
    query->found = window;
    return FALSE;
}

HWND FindMainWindow(DWORD processId, const wchar_t* className, const wchar_t* title)
{
    MainWindowQuery query{processId, className, title, nullptr};
    EnumWindows(MatchMainWindow, LPARAM(&query));
    return query.found;
}

struct MessageBoxQuery {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<MessageBoxQuery*>(param);
    if (!IsDialogWindow(window) || GetWindow(window, GW_OWNER) != query->owner) return TRUE;
    query->found = window;
    return FALSE;
}

HWND FindMessageBox(DWORD threadId, HWND owner)
{
    MessageBoxQuery query{owner, nullptr};
    EnumThreadWindows(threadId, MatchMessageBox, LPARAM(&query));
    return query.found;
}

// A message to the child's window, answered once its thread gets to it.
LRESULT Call(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kTimeoutMs, &result))
        Fail("the window did not answer message 0x%04x within %lu ms", message, kTimeoutMs);
    return LRESULT(result);
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = L"";
    Call(window, WM_GETTEXT, 256, LPARAM(text));
    return text;
}

// The text of a message box is its static control 0xFFFF.
std::wstring MessageBoxText(HWND box)
{
    const HWND text = GetDlgItem(box, 0xFFFF);
    return text ? WindowText(text) : std::wstring();
}

// --- One run of a program ----------------------------------------------------

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
    g_children.push_back(running.process.hProcess);
    const DWORD idle = WaitForInputIdle(running.process.hProcess, kTimeoutMs);
    if (idle != 0 && !program.console) Fail("%s did not become idle (WaitForInputIdle returned %lu)", program.name, idle);
    while (!(running.window = FindMainWindow(running.process.dwProcessId, program.className, program.title))) {
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

// Closes the main window as its close box would and waits for the process
// to end; returns the time that took.
double Close(Running& running, const char* name)
{
    const double closing = NowMs();
    PostMessageW(running.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(running.process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(running.process.hProcess, 1);
        Fail("%s did not end after WM_CLOSE", name);
    }
    const double closedMs = NowMs() - closing;
    g_children.erase(std::find(g_children.begin(), g_children.end(), running.process.hProcess));
    CloseHandle(running.process.hThread);
    CloseHandle(running.process.hProcess);
    return closedMs;
}

struct StartFigures {
    std::vector<double> startMs, peakKiB, closeMs;
};

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

// --- A console program, from start to exit ------------------------------------

// Starts a console program with stdout and stderr on a pipe and waits for it to
// end; returns the time from CreateProcess to the end, and what it printed.
// Fails unless it exits with 0.
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
    g_children.push_back(process.hProcess);
    if (WaitForSingleObject(process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) Fail("%s did not end", name);
    const double ms = NowMs() - started;
    g_children.pop_back();
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

struct CliFigures {
    std::vector<double> cliMs, leastMs;
};

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

// --- varnock-cli.exe provision against write-suffix ----------------------------

bool FileBytes(const std::wstring& path, std::vector<unsigned char>& bytes);

void PutFile(const std::wstring& path, const void* bytes, size_t length, const char* what)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    // Flushed, as a station leaves the ledger: otherwise the provision run's
    // own flush would write the reset copy out too, and be timed for it.
    const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes, DWORD(length), &written, nullptr) &&
                    written == length && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) Fail("cannot write %s (error %lu)", what, GetLastError());
}

constexpr int kLedgerLines = 10000;  // the header and 9,999 rows
constexpr char kProvisionedSerial[] = "VN240001";  // the pool's first: kept free in the ledger

// A ledger of kLedgerLines lines as stations write it: a reserved row, then
// provisioned (or now and then failed) per run, and a last reserved row whose
// run died. Most serials are of other batches; every hundredth run gave out
// one of the adapter's batch (VN240050 to VN240098). Its first suffix, 01,
// stays free, so that every run gives out VN240001. `factory` is the
// adapter's record: each row's is that with the row's old serial.
std::string MakeLedger(const std::vector<unsigned char>& factory)
{
    std::string ledger =
        "\xEF\xBB\xBFtime,station,event,old_serial,new_serial,hardware,firmware,product,record,exit_code\r\n";
    static const char digits[] = "0123456789abcdef";
    for (int line = 2, run = 0; line <= kLedgerLines; ++run) {
        const std::string oldSerial = run % 2 ? Format("VN2399%02d", run % 99 + 1) : "VN240017";
        const std::string newSerial =
            run % 100 == 7 ? Format("VN2400%02d", 50 + run / 100 % 49) : Format("VN1%05d", run);
        std::vector<unsigned char> record = factory;
        std::memcpy(&record[11], oldSerial.data(), 8);
        std::string hex;
        for (unsigned char byte : record) hex += {digits[byte >> 4], digits[byte & 0x0F]};
        const std::string fields = Format(",%s,%s,V2.0,0213,Virtual CAN,", oldSerial.c_str(), newSerial.c_str()) + hex;
        const std::string time = Format("2026-01-%02dT%02d:%02d:%02dZ", 5 + run / 1000, 8 + run % 1000 / 120,
                                        run % 120 / 2, run % 2 * 30);
        const std::string station = Format("LINE%d-PC", run % 3 + 1);
        const char* const closing = run % 50 == 25 ? "failed" : "provisioned";
        const char* const exitCode = run % 50 == 25 ? (run % 100 == 25 ? "7" : "6") : "";
        ledger += time + ',' + station + ",reserved" + fields + ",\r\n";
        if (++line > kLedgerLines) break;
        ledger += Format("%s,%s,%s", time.c_str(), station.c_str(), closing) + fields + ',' + exitCode + "\r\n";
        ++line;
    }
    return ledger;
}

struct ProvisionFigures {
    std::vector<double> provisionMs, writeSuffixMs;
};

// varnock-cli.exe provision and write-suffix take turns, swapping places every
// pair. Before each provision run, outside the timed part, the image gets the
// factory record back and the ledger its 10,000 lines, so that every run
// provisions the same adapter against the same ledger. The ledger is named
// relative to the current folder, the temp folder, as an operator's batch file
// would, and within the program's 64 characters.
ProvisionFigures RunProvision(const std::wstring& folder, const std::wstring& image, int runs)
{
    const std::wstring cli = folder + L"varnock-cli.exe";
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp) || !SetCurrentDirectoryW(temp)) Fail("cannot go to the temp folder");
    const std::wstring ledger = L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L".csv";
    const std::wstring master = L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-ledger.csv";
    std::string output;

    // The factory record, as the adapter makes it on first use.
    DeleteFileW(image.c_str());
    RunToExitMs(cli, L"read", "varnock-cli.exe read", output);
    std::vector<unsigned char> factory;
    if (!FileBytes(image, factory) || factory.size() != 52) Fail("no factory record in the image");
    const std::string ledgerBytes = MakeLedger(factory);
    PutFile(master, ledgerBytes.data(), ledgerBytes.size(), "the ledger");
    const std::string expected = Format("old-serial: VN240017\r\nnew-serial: %s\r\nledger-line: %d\r\n",
                                        kProvisionedSerial, kLedgerLines + 2);

    const wchar_t* const suffixes[] = {L"A1", L"B2"};
    ProvisionFigures figures;
    for (int i = -1; i < runs; ++i) {  // run -1 warms up
        const bool provisionFirst = i % 2 == 0;
        double provisionMs = 0, writeSuffixMs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == provisionFirst) {
                PutFile(image, factory.data(), factory.size(), "the image");
                if (!CopyFileW(master.c_str(), ledger.c_str(), FALSE)) Fail("cannot copy the ledger");
                provisionMs = RunToExitMs(cli, L"provision " + ledger, "varnock-cli.exe provision", output);
                if (output != expected) Fail("varnock-cli.exe provision printed: %s", output.c_str());
                // The two lines it appended: the reservation, then the outcome.
                std::vector<unsigned char> after;
                const std::string added = FileBytes(ledger, after) && after.size() > ledgerBytes.size()
                                              ? std::string(after.begin() + ledgerBytes.size(), after.end())
                                              : std::string();
                if (std::count(added.begin(), added.end(), '\n') != 2 ||
                    added.find(std::string(",reserved,VN240017,") + kProvisionedSerial) == std::string::npos ||
                    added.find(std::string(",provisioned,VN240017,") + kProvisionedSerial) == std::string::npos)
                    Fail("varnock-cli.exe provision appended: %s", added.c_str());
            } else {
                const wchar_t* const suffix = suffixes[(i + 1) % 2];
                writeSuffixMs = RunToExitMs(cli, std::wstring(L"write-suffix ") + suffix, "varnock-cli.exe", output);
                if (output.find("new-serial: ") == std::string::npos ||
                    output.find(Narrow(suffix) + "\r\n") == std::string::npos)
                    Fail("varnock-cli.exe write-suffix %s printed: %s", Narrow(suffix).c_str(), output.c_str());
            }
        }
        if (i < 0) continue;
        figures.provisionMs.push_back(provisionMs);
        figures.writeSuffixMs.push_back(writeSuffixMs);
    }
    DeleteFileW(ledger.c_str());
    DeleteFileW(master.c_str());
    return figures;
}

// --- The actions ---------------------------------------------------------------

template <typename Function>
Function Export(HMODULE module, int number)
{
    // Through void(*)(), the generic function pointer, to say the cast is meant.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(number))));
}

// The device library as Varnock binds it: by export number.
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
    DWORD threadId;
    const char* name;
};

void Click(HWND window, int id)
{
    // What the button sends its parent when it is clicked. Posted, so the
    // driver is not held up by the handler or by a message box it opens.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(window, id)));
}

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
        if (const HWND box = FindMessageBox(target.threadId, target.window))
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
    while (!(box = FindMessageBox(target.threadId, target.window))) {
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

// --- The least window that does the two actions --------------------------------
//
// The floor for the actions: this driver, started again with --least-window,
// shows a plain window whose two buttons call the library directly, set the
// seven fields and show the message box. It is measured as Varnock is, from
// another process; Varnock's figures minus its figures are what Varnock's own
// code costs.

constexpr wchar_t kLeastWindowClass[] = L"VarnockBenchLeastWindow";

DeviceLibrary g_library;
DeviceInfo g_leastInfo;

// The seven display texts, roughly as Varnock builds them.
void ShowRecord(HWND window, const DeviceInfo& info)
{
    wchar_t name[sizeof info.productName + 1] = L"";
    for (size_t i = 0; i < sizeof info.productName && info.productName[i]; ++i) name[i] = wchar_t(info.productName[i]);
    const auto& serial = info.serialNumber;
    wchar_t texts[7][24];
    _snwprintf(texts[0], 24, L"%d", info.channelCount);
    _snwprintf(texts[1], 24, L"%04X", unsigned(info.firmwareVersion[0] | info.firmwareVersion[1] << 8));
    _snwprintf(texts[2], 24, L"%X.%X", info.hardwareVersion[1], info.hardwareVersion[0]);
    _snwprintf(texts[3], 24, L"%ls", name);
    _snwprintf(texts[4], 24, L"%c%c%c%c%c%c", serial[0], serial[1], serial[2], serial[3], serial[4], serial[5]);
    _snwprintf(texts[5], 24, L"%c%c", serial[6], serial[7]);
    _snwprintf(texts[6], 24, L"%d%d", info.reservedValue[1], info.reservedValue[0]);
    for (int i = 0; i < 7; ++i) SetDlgItemTextW(window, kFieldIds[i], texts[i]);
}

LRESULT CALLBACK LeastWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == kIdOpen) {
        g_library.DeviceOpen(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, 0);
        if (g_library.DeviceInfoRead(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &g_leastInfo) == DEVICE_RESULT_OK)
            ShowRecord(window, g_leastInfo);
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kIdWrite) {
        const DeviceResult written = g_library.DeviceInfoWrite(DEVICE_TYPE_ADAPTER, DEVICE_INDEX_FIRST, &g_leastInfo);
        MessageBoxW(window, written == DEVICE_RESULT_OK ? kWriteSucceeded : L"write failed", L"Varnock",
                    MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// Varnock's manifest, taken from Varnock.exe, so that the least window and
// its message box have the same version of the controls as Varnock's.
void UseVarnockControls(const std::wstring& varnockPath)
{
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = varnockPath.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    const HANDLE handle = CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    if (handle == INVALID_HANDLE_VALUE || !ActivateActCtx(handle, &cookie))
        Fail("cannot take Varnock.exe's manifest (error %lu)", GetLastError());
}

int RunLeastWindow(const std::wstring& varnockPath)
{
    UseVarnockControls(varnockPath);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = LeastWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kLeastWindowClass;
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(WS_EX_APPWINDOW, kLeastWindowClass, L"least window",
                                        WS_POPUP | WS_CAPTION | WS_SYSMENU, 100, 100, 580, 170,
                                        nullptr, nullptr, instance, nullptr);
    // Varnock's dialog font, 9 points at 96 dots per inch.
    const HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                   L"\u5B8B\u4F53");  // 宋体
    const auto add = [&](const wchar_t* className, int id, DWORD style, int x, int y, int width) {
        const HWND control = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, x, y, width, 20, window,
                                             HMENU(INT_PTR(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, WPARAM(font), FALSE);
    };
    add(L"BUTTON", kIdOpen, BS_PUSHBUTTON | WS_TABSTOP, 27, 20, 75);
    add(L"BUTTON", kIdWrite, BS_PUSHBUTTON | WS_TABSTOP, 142, 20, 75);
    for (int i = 0; i < 7; ++i)
        add(L"EDIT", kFieldIds[i], ES_AUTOHSCROLL | WS_BORDER | (kFieldIds[i] == 1000 ? 0 : WS_DISABLED),
            20 + 80 * i, 80, 75);
    if (!GetModuleHandleW(L"comctl32.dll")) Fail("the least window's controls are not common controls 6");
    ShowWindow(window, SW_SHOW);  // complete, as the driver finds it by being visible
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DeleteObject(font);
    return 0;
}

struct ActionFigures {
    std::vector<double> libraryRead, varnockRead, leastRead;
    std::vector<double> libraryWrite, varnockWrite, leastWrite;
};

// The windows go on repainting after an action; each measurement waits this
// long first, so it does not share the processor with the one before.
void Settle()
{
    Sleep(30);
}

// Library, Varnock's window and the least window take turns, call for call,
// on the same image file; the two windows swap places every round.
ActionFigures RunActions(const Program& varnock, const Program& leastWindow, int runs)
{
    double startMs = 0;
    Running varnockRunning = Start(varnock, startMs);
    Running leastRunning = Start(leastWindow, startMs);
    const ActionWindow varnockTarget{varnockRunning.window, varnockRunning.process.dwThreadId, "Varnock's window"};
    const ActionWindow leastTarget{leastRunning.window, leastRunning.process.dwThreadId, "the least window"};

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
        const double libraryRead = LibraryReadMs(g_library, info);
        inTurn(ClickReadMs, varnockRead, leastRead);
        Settle();
        const double libraryWrite = LibraryWriteMs(g_library, info);
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

// --- Sizes and imports ---------------------------------------------------------

bool FileBytes(const std::wstring& path, std::vector<unsigned char>& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (64 << 20);
    if (ok) {
        bytes.resize(size_t(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() || (ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr) && read == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

// The names of the DLLs a PE image (32- or 64-bit) imports at load time;
// empty if it is no PE image.
std::vector<std::string> ImportedDlls(const std::vector<unsigned char>& image)
{
    const auto in = [&](size_t offset, size_t size) { return offset + size <= image.size(); };
    const auto u16 = [&](size_t offset) { return unsigned(image[offset] | image[offset + 1] << 8); };
    const auto u32 = [&](size_t offset) { return uint32_t(u16(offset) | uint32_t(u16(offset + 2)) << 16); };
    std::vector<std::string> names;
    if (!in(0x40, 0) || u16(0) != 0x5A4D) return names;
    const size_t pe = u32(0x3C);
    if (!in(pe, 24) || u32(pe) != 0x4550) return names;
    const unsigned sectionCount = u16(pe + 6);
    const size_t optional = pe + 24;
    const size_t sections = optional + u16(pe + 20);
    if (!in(optional, 2)) return names;
    const size_t directories = optional + (u16(optional) == 0x20B ? 112 : 96);
    if (!in(directories + 8, 8)) return names;
    const auto toOffset = [&](uint32_t rva) -> size_t {
        for (unsigned i = 0; i < sectionCount; ++i) {
            const size_t s = sections + 40 * i;
            if (!in(s, 40)) break;
            const uint32_t address = u32(s + 12), rawSize = u32(s + 16), raw = u32(s + 20);
            if (rva >= address && rva < address + rawSize) return raw + (rva - address);
        }
        return SIZE_MAX;
    };
    for (size_t d = toOffset(u32(directories + 8)); d != SIZE_MAX && in(d, 20); d += 20) {
        const uint32_t nameRva = u32(d + 12);
        if (nameRva == 0) break;
        size_t n = toOffset(nameRva);
        if (n == SIZE_MAX) break;
        std::string name;
        for (; in(n, 1) && image[n]; ++n) name += char(image[n]);
        names.push_back(name);
    }
    return names;
}

// Windows' own DLLs, and the device library; a runtime of the compiler's
// (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) is none of them.
bool IsAllowedImport(std::string name)
{
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    static const char* const allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll",   "msvcrt.dll",
                                          "comctl32.dll", "advapi32.dll", "shell32.dll", "ntdll.dll",
                                          "qelvo_can.dll"};
    for (const char* a : allowed)
        if (name == a) return true;
    return name.compare(0, 11, "api-ms-win-") == 0;
}

struct SizeRow {
    std::string label;
    std::wstring folder;
    bool stripped;  // the row the size target is checked on
};

// Prints the table; returns whether every stripped Varnock.exe meets the
// size and import target.
bool PrintSizes(const std::vector<SizeRow>& rows)
{
    bool met = true;
    bool checked = false;
    std::printf("\nExecutables (bytes)\n");
    std::printf("  %-18s %10s %10s %7s %12s  %s\n", "build", "Varnock", "baseline", "ratio", "varnock-cli",
                "Varnock.exe imports");
    for (const SizeRow& row : rows) {
        std::vector<unsigned char> varnock, baseline, cli;
        const bool haveVarnock = FileBytes(row.folder + L"Varnock.exe", varnock);
        const bool haveBaseline = FileBytes(row.folder + L"VarnockBaseline.exe", baseline);
        const bool haveCli = FileBytes(row.folder + L"varnock-cli.exe", cli);
        std::string imports;
        bool allowed = haveVarnock;
        for (const std::string& dll : haveVarnock ? ImportedDlls(varnock) : std::vector<std::string>{}) {
            if (!IsAllowedImport(dll)) allowed = false;
            imports += (imports.empty() ? "" : " ") + dll + (IsAllowedImport(dll) ? "" : "(!)");
        }
        std::printf("  %-18s %10s %10s %7s %12s  %s\n", row.label.c_str(),
                    haveVarnock ? Format("%zu", varnock.size()).c_str() : "-",
                    haveBaseline ? Format("%zu", baseline.size()).c_str() : "-",
                    haveVarnock && haveBaseline ? Format("%.2f", double(varnock.size()) / baseline.size()).c_str()
                                                : "-",
                    haveCli ? Format("%zu", cli.size()).c_str() : "-",
                    haveVarnock ? imports.c_str() : "(missing)");
        if (row.stripped) {
            checked = true;
            met = met && allowed && varnock.size() <= 65536;
        }
    }
    return met && checked;
}

// --- Environment ---------------------------------------------------------------

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n == MAX_PATH) Fail("cannot find my own folder");
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// The children inherit this: a fresh image, no delay, no failures, no log.
std::wstring PrepareVirtualAdapter()
{
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp)) Fail("no temp folder");
    const std::wstring image = std::wstring(temp) + L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    DeleteFileW(image.c_str());  // created with factory content on first use
    SetEnvironmentVariableW(L"VADAPTER_IMAGE", image.c_str());
    SetEnvironmentVariableW(L"VADAPTER_DELAY_MS", L"0");
    for (const wchar_t* name :
         {L"VADAPTER_ABSENT", L"VADAPTER_FAIL_READ", L"VADAPTER_FAIL_READ_GARBAGE", L"VADAPTER_FAIL_WRITE",
          L"VADAPTER_FAIL_RESULT", L"VADAPTER_LOG", L"VADAPTER_WRITE_STORES_OTHER", L"VADAPTER_FAIL_READ_AFTER_WRITE",
          L"VADAPTER_ABORT_AFTER_WRITE"})
        SetEnvironmentVariableW(name, nullptr);
    return image;
}

void PrintTarget(const std::string& what, bool met)
{
    std::printf("  %-76s %s\n", what.c_str(), met ? "met" : "MISSED");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int runs = 100;
    bool startsOnly = false;
    bool raw = false;
    const std::wstring folder = OwnFolder();
    if (argc == 2 && std::wcscmp(argv[1], L"--least-window") == 0) {
        g_library = LoadDeviceLibrary(folder);
        return RunLeastWindow(folder + L"Varnock.exe");
    }
    std::vector<SizeRow> sizeRows{{"x86_64", folder, false}};
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--runs" && i + 1 < argc) {
            runs = _wtoi(argv[++i]);
        } else if (arg == L"--starts-only") {
            startsOnly = true;
        } else if (arg == L"--raw") {
            raw = true;
        } else if (arg == L"--sizes" && i + 2 < argc) {
            std::wstring sizeFolder = argv[i + 2];
            if (!sizeFolder.empty() && sizeFolder.back() != L'\\') sizeFolder += L'\\';
            const std::string label = Narrow(argv[i + 1]);
            sizeRows.push_back({label, sizeFolder, label.find("stripped") != std::string::npos});
            i += 2;
        } else {
            Fail("usage: VarnockBench.exe [--runs N] [--starts-only] [--raw] [--sizes LABEL FOLDER]...");
        }
    }
    if (runs < 1) Fail("--runs needs a positive number");

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMs = double(frequency.QuadPart) / 1000;

    const std::wstring image = PrepareVirtualAdapter();
    const Program varnock{"Varnock.exe", folder + L"Varnock.exe", L"", kDialogClass, L"Varnock", false};
    // The floor of the targets, then two that each add more of Varnock's
    // resources, to show where the gap goes.
    const Program baselines[] = {
        {"baseline", folder + L"VarnockBaseline.exe", L"", kDialogClass, nullptr, false},
        {"+ common controls 6", folder + L"VarnockBaselineV6.exe", L"", kDialogClass, nullptr, false},
        {"+ Varnock's main window", folder + L"VarnockBaselineWindow.exe", L"", kDialogClass, nullptr, false},
    };
    constexpr size_t kFloors = sizeof baselines / sizeof baselines[0];
    wchar_t ownPath[MAX_PATH];
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    const Program leastWindow{"the least window", ownPath, L"--least-window", kLeastWindowClass, nullptr, true};

    // Starts, Varnock then each floor in turn, after one round that warms the
    // caches.
    RunOnce(varnock, nullptr);
    for (const Program& floor : baselines) RunOnce(floor, nullptr);
    StartFigures a, b[kFloors];
    for (int i = 0; i < runs; ++i) {
        RunOnce(varnock, &a);
        for (size_t f = 0; f < kFloors; ++f) RunOnce(baselines[f], &b[f]);
    }

    std::printf("Start-up: %d starts of each program, in turn after one warm-up round, one Wine session.\n"
                "The floors are the least code showing one resource dialog (the baseline), then the same\n"
                "with Varnock's manifest, then with Varnock's own resources: the last is the floor of the\n"
                "targets, the other two show where the rest goes.\n",
                runs);
    std::printf("  %-30s %-26s %-26s %s\n", "figure: median [range]", "Varnock.exe", "floor",
                "Varnock / floor, pair by pair");
    const struct {
        const char* name;
        std::vector<double> StartFigures::*values;
        int decimals;
    } rows[] = {
        {"start to visible, idle (ms)", &StartFigures::startMs, 1},
        {"peak working set (KiB)", &StartFigures::peakKiB, 0},
        {"WM_CLOSE to process end (ms)", &StartFigures::closeMs, 1},
    };
    for (const auto& row : rows) {
        std::printf("  %s\n", row.name);
        for (size_t f = 0; f < kFloors; ++f)
            std::printf("    %-28s %-26s %-26s %s\n", baselines[f].name,
                        f == 0 ? Figure(Summarize(a.*row.values), row.decimals).c_str() : "",
                        Figure(Summarize(b[f].*row.values), row.decimals).c_str(),
                        Figure(Summarize(PairRatios(a.*row.values, b[f].*row.values)), 3).c_str());
    }
    if (raw)
        for (int i = 0; i < runs; ++i)
            std::printf("  round %3d: start %7.1f %7.1f ms, peak %6.0f %6.0f KiB\n", i + 1, a.startMs[i],
                        b[0].startMs[i], a.peakKiB[i], b[0].peakKiB[i]);
    std::fflush(stdout);

    const CliFigures cli = RunCli(folder, runs);
    const double cliRatio = Summarize(PairRatios(cli.cliMs, cli.leastMs)).median;
    std::printf("\nvarnock-cli.exe write-suffix: %d runs of each after one warm-up pair, pair by pair, the order\n"
                "swapped every pair. The floor is the least C program making the same five library calls\n"
                "(open, read, write, open, read) through the same import library, built with the same options.\n",
                runs);
    std::printf("  %-30s %-26s %-26s %s\n", "figure: median [range]", "varnock-cli.exe", "floor",
                "varnock-cli / floor, pair by pair");
    std::printf("  %-30s %-26s %-26s %s\n", "start to exit (ms)", Figure(Summarize(cli.cliMs), 1).c_str(),
                Figure(Summarize(cli.leastMs), 1).c_str(),
                Figure(Summarize(PairRatios(cli.cliMs, cli.leastMs)), 3).c_str());
    if (raw)
        for (int i = 0; i < runs; ++i)
            std::printf("  pair %3d: %7.1f %7.1f ms\n", i + 1, cli.cliMs[i], cli.leastMs[i]);
    std::fflush(stdout);

    const ProvisionFigures provision = RunProvision(folder, image, runs);
    const double provisionRatio = Summarize(PairRatios(provision.provisionMs, provision.writeSuffixMs)).median;
    std::printf("\nvarnock-cli.exe provision on a ledger of %d lines (reading it, the same five library calls,\n"
                "appending two lines) against write-suffix: %d runs of each after one warm-up pair, pair by\n"
                "pair, the order swapped every pair. Before each provision run, outside the timed part, the\n"
                "image is reset to the factory record and the ledger to its %d lines.\n",
                kLedgerLines, runs, kLedgerLines);
    std::printf("  %-30s %-26s %-26s %s\n", "figure: median [range]", "provision", "write-suffix",
                "provision / write-suffix, pair by pair");
    std::printf("  %-30s %-26s %-26s %s\n", "start to exit (ms)", Figure(Summarize(provision.provisionMs), 1).c_str(),
                Figure(Summarize(provision.writeSuffixMs), 1).c_str(),
                Figure(Summarize(PairRatios(provision.provisionMs, provision.writeSuffixMs)), 3).c_str());
    if (raw)
        for (int i = 0; i < runs; ++i)
            std::printf("  pair %3d: %7.1f %7.1f ms\n", i + 1, provision.provisionMs[i], provision.writeSuffixMs[i]);
    std::fflush(stdout);

    double readAdds = 0, writeAdds = 0, readAddsToLeast = 0, writeAddsToLeast = 0;
    if (!startsOnly) {
        g_library = LoadDeviceLibrary(folder);
        const ActionFigures actions = RunActions(varnock, leastWindow, runs);
        std::printf("\nActions (ms, median [range]): %d of each, VADAPTER_DELAY_MS=0. The library alone, Varnock's\n"
                    "window and the least window (another process calling the library from a bare window\n"
                    "procedure, with Varnock's common controls 6) take turns, 30 ms apart.\n",
                    runs);
        std::printf("  %-36s %-28s %s\n", "", "read: open + read, fields", "write: write, message box");
        const struct {
            const char* name;
            std::vector<double> read, write;
        } actionRows[] = {
            {"library alone", actions.libraryRead, actions.libraryWrite},
            {"Varnock.exe, click to result", actions.varnockRead, actions.varnockWrite},
            {"least window, click to result", actions.leastRead, actions.leastWrite},
            {"Varnock adds to the library", PairDifferences(actions.varnockRead, actions.libraryRead),
             PairDifferences(actions.varnockWrite, actions.libraryWrite)},
            {"Varnock adds to the least window", PairDifferences(actions.varnockRead, actions.leastRead),
             PairDifferences(actions.varnockWrite, actions.leastWrite)},
        };
        for (const auto& row : actionRows)
            std::printf("  %-36s %-28s %s\n", row.name, Figure(Summarize(row.read), 3).c_str(),
                        Figure(Summarize(row.write), 3).c_str());
        readAdds = Summarize(actionRows[3].read).median;
        writeAdds = Summarize(actionRows[3].write).median;
        readAddsToLeast = Summarize(actionRows[4].read).median;
        writeAddsToLeast = Summarize(actionRows[4].write).median;
    }
    DeleteFileW(image.c_str());

    const bool sizeMet = PrintSizes(sizeRows);

    // The floor of the targets is the least code showing Varnock's own window.
    const size_t window = kFloors - 1;
    const double startRatio = Summarize(PairRatios(a.startMs, b[window].startMs)).median;
    const double peakRatio = Summarize(PairRatios(a.peakKiB, b[window].peakKiB)).median;
    std::printf("\nTargets (ratios: median of the pair ratios)\n");
    PrintTarget(Format("start to visible, idle: %.3f to Varnock's window from the least code, <= 1.05", startRatio),
                startRatio <= 1.05);
    PrintTarget(Format("peak working set: %.3f to Varnock's window from the least code, <= 1.05", peakRatio),
                peakRatio <= 1.05);
    if (!startsOnly) {
        PrintTarget(Format("read action: Varnock adds %.2f ms to the least window, < 1", readAddsToLeast),
                    readAddsToLeast < 1.0);
        PrintTarget(Format("write action: Varnock adds %.2f ms to the least window, < 1", writeAddsToLeast),
                    writeAddsToLeast < 1.0);
    }
    PrintTarget(Format("varnock-cli.exe write-suffix: %.3f to the least C program, <= 1.05", cliRatio),
                cliRatio <= 1.05);
    PrintTarget(Format("varnock-cli.exe provision: %.3f to write-suffix, <= 1.10", provisionRatio),
                provisionRatio <= 1.10);
    PrintTarget("Varnock.exe stripped <= 65536 bytes, only allowed DLLs", sizeMet);

    // The old floors: shown for where the time and memory go, judged by nothing.
    std::printf("\nFor information, not targets: against the baseline dialog and the library alone\n");
    std::printf("  start to visible, idle: %.3f to the baseline dialog\n",
                Summarize(PairRatios(a.startMs, b[0].startMs)).median);
    std::printf("  peak working set: %.3f to the baseline dialog\n",
                Summarize(PairRatios(a.peakKiB, b[0].peakKiB)).median);
    if (!startsOnly) {
        std::printf("  read action: Varnock adds %.2f ms to the library alone\n", readAdds);
        std::printf("  write action: Varnock adds %.2f ms to the library alone\n", writeAdds);
    }
    return 0;
}
