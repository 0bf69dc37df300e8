// Drives Varnock.exe as a person would: starts it with a virtual adapter of
// the test's own, types and clicks through SendInput, and reads back what is
// on the screen (window texts, message boxes, focus, positions).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "otherwindows/OtherWindows.h"

namespace e2e {

using Milliseconds = std::chrono::milliseconds;
constexpr Milliseconds kWait{5000};  // how long any expected change may take
// How long to watch for what must not happen: a message box, the program's
// end. WaitForDialog counts a box only after three steady polls, so a wait
// much shorter than this would see none, whatever is on the screen.
constexpr Milliseconds kWatch{500};

// Polls `condition` until it holds or `timeout` has passed; true if it held.
template <class Condition>
bool WaitFor(Condition condition, Milliseconds timeout = kWait)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(10);
    }
}

// Control ids of the main window.
enum ControlId : int {
    kExit = IDCANCEL,
    kSuffix = 1000,
    kOpen = 1001,
    kWrite = 1002,
    kFirmware = 1018,
    kReserved = 1019,
    kChannels = 1020,
    kSerial = 1021,
    kProduct = 1022,
    kHardware = 1023,
};

// The seven fields as a person reads them, keyed by control id.
using FieldTexts = std::map<int, std::wstring>;
extern const int kFieldIds[7];

std::wstring ExeDirectory();       // <build>/bin: the test program, Varnock.exe, the adapter
std::wstring BuildDirectory();     // <build>
std::wstring ArtifactDirectory();  // <build>/artifacts, created on demand
std::wstring Utf16(const std::string& utf8);
std::string Utf8(const std::wstring& text);

// ---- Windows of another process (finding them: otherwindows/) ---------------
using otherwindows::ClassName;
using otherwindows::TopLevelWindows;
// WM_GETTEXT with a timeout; "<no window>" or "<no answer>" show in a failure.
std::wstring WindowText(HWND window);
std::wstring WithoutLineFeeds(std::wstring text);    // also drops carriage returns
RECT WindowRect(HWND window);
POINT Centre(const RECT& rect);

// A message box or the About box: a dialog owned by `owner`.
struct Dialog {
    HWND window = nullptr;
    std::wstring caption;
    std::vector<std::wstring> texts;  // of its static text controls, in order
    std::wstring text;                // the first of them: a message box's message
};
std::optional<Dialog> OwnedDialog(HWND owner);

// With no window manager on the display, Wine leaves the frame of a window
// that it lets a window manager handle undrawn, so there is no close box to
// click. Test prefixes turn that off ("Managed"="N"), and Wine draws the
// caption and close box itself, as Windows does.
bool WineDrawsTheFrames();

// ---- Input --------------------------------------------------------------------
bool BringToForeground(HWND window);
void PressKey(WORD vk);
void PressChord(WORD modifier, WORD vk);  // e.g. Alt+Space
void TypeText(const std::wstring& text);  // KEYEVENTF_UNICODE, one character at a time
void ClickAt(POINT screen);
void Click(HWND control);                 // the centre of its screen rectangle

// ---- The virtual adapter ----------------------------------------------------
struct LibraryCall {
    std::string op;                 // open, read or write
    std::vector<long long> args;    // type, index (and the third for open)
    long long result = -1;
    std::vector<uint8_t> record;    // the 52 bytes, for read and write
};
std::vector<LibraryCall> ReadCallLog(const std::wstring& path);
std::optional<LibraryCall> ParseCallLine(const std::string& line);
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::string Hex(const std::vector<uint8_t>& bytes);

// The adapter's factory record, also the base of the test records.
std::vector<uint8_t> FactoryRecord();

// ---- The system menu, read inside Varnock's process ----------------------------
// Menus of another process cannot be read under Wine (GetMenuItemCount on
// them fails), so a hook DLL of the tests' own reads it in Varnock's GUI
// thread and writes it to the file named by kMenuFileVariable.
struct MenuItem {
    UINT type = 0;  // MFT_*
    UINT id = 0;
    std::wstring text;
};
constexpr wchar_t kMenuFileVariable[] = L"VARNOCK_E2E_MENU_FILE";
std::optional<std::vector<MenuItem>> ReadSystemMenu(HWND window, DWORD guiThread, const std::wstring& file);

// The test program's environment for a child, without its VADAPTER_*
// variables, with these added: a CREATE_UNICODE_ENVIRONMENT block.
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& environment);

// Says, on stderr and in artifacts/started-again.txt, that a program the
// test started ended as it started (`what`) and is started once more.
void SayStartedAgain(const std::string& what);

// ---- One run of Varnock.exe ---------------------------------------------------
class Varnock {
public:
    // Starts Varnock.exe with these extra environment variables and waits
    // for its main window. Any VADAPTER_* variable of the test's own
    // environment is left out.
    explicit Varnock(const std::map<std::wstring, std::wstring>& environment, const std::wstring& arguments = L"");
    ~Varnock();  // terminates the process if it still runs
    Varnock(const Varnock&) = delete;
    Varnock& operator=(const Varnock&) = delete;

    bool Started() const { return m_main != nullptr; }
    DWORD StartError() const { return m_startError; }  // of CreateProcessW, when it failed
    HWND Main() const { return m_main; }
    HWND Control(int id) const { return GetDlgItem(m_main, id); }
    DWORD ProcessId() const { return m_process.dwProcessId; }
    DWORD GuiThreadId() const { return m_guiThread; }

    FieldTexts Fields() const;
    std::wstring Field(int id) const { return WindowText(Control(id)); }
    int FocusedControlId() const;  // 0 when the focus is on no control of the main window
    HWND FocusedWindow() const;

    bool Exited(Milliseconds timeout = kWait) const;
    DWORD ExitCode() const;
    void Terminate();

    // The box owned by the main window, once it is open.
    std::optional<Dialog> WaitForDialog(Milliseconds timeout = kWait) const;
    bool WaitForNoDialog(Milliseconds timeout = kWait) const;

private:
    void Launch(const std::wstring& exe, std::wstring commandLine, std::wstring block, const std::wstring& directory);
    void Close();  // terminates the process if it still runs

    HANDLE m_job = nullptr;
    PROCESS_INFORMATION m_process{};
    HWND m_main = nullptr;
    DWORD m_guiThread = 0;
    DWORD m_startError = 0;
};

}  // namespace e2e
