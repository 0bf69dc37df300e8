#include "Harness.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace e2e {

const int kFieldIds[7] = {kChannels, kFirmware, kHardware, kProduct, kSerial, kSuffix, kReserved};

namespace {

constexpr UINT kMessageTimeoutMs = 2000;

std::wstring Upper(std::wstring text)
{
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

}  // namespace

std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L"\\/"));
}

std::wstring BuildDirectory()
{
    const std::wstring bin = ExeDirectory();
    return bin.substr(0, bin.find_last_of(L"\\/"));
}

std::wstring ArtifactDirectory()
{
    const std::wstring directory = BuildDirectory() + L"\\artifacts";
    CreateDirectoryW(directory.c_str(), nullptr);
    return directory;
}

std::wstring Utf16(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    return text;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                        nullptr);
    return bytes;
}

// ---- Windows of another process ---------------------------------------------

std::wstring WindowText(HWND window)
{
    if (window == nullptr)
        return L"<no window>";
    std::wstring text;
    return otherwindows::ReadText(window, kMessageTimeoutMs, text) ? text : L"<no answer>";
}

std::wstring WithoutLineFeeds(std::wstring text)
{
    text.erase(std::remove_if(text.begin(), text.end(), [](wchar_t c) { return c == L'\n' || c == L'\r'; }),
               text.end());
    return text;
}

RECT WindowRect(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

POINT Centre(const RECT& rect)
{
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::optional<Dialog> OwnedDialog(HWND owner)
{
    const HWND window = otherwindows::OwnedDialog(owner);
    if (window == nullptr)
        return std::nullopt;
    Dialog dialog{window, WindowText(window), {}, {}};
    for (HWND control : otherwindows::StaticTextControls(window)) {
        const std::wstring text = WindowText(control);
        if (!text.empty())
            dialog.texts.push_back(text);
    }
    if (!dialog.texts.empty())
        dialog.text = dialog.texts.front();
    return dialog;
}

bool WineDrawsTheFrames()
{
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
        return true;  // Windows
    // Varnock's own setting first, then the prefix's; Wine's default is "Y".
    for (const wchar_t* key : {L"Software\\Wine\\AppDefaults\\Varnock.exe\\X11 Driver", L"Software\\Wine\\X11 Driver"}) {
        wchar_t value[16] = {};
        DWORD size = sizeof value;
        if (RegGetValueW(HKEY_CURRENT_USER, key, L"Managed", RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS)
            return std::wcschr(L"nNfF0", value[0]) != nullptr && value[0] != L'\0';
    }
    return false;
}

// ---- Input --------------------------------------------------------------------

bool BringToForeground(HWND window)
{
    // In front for the system, and active in its own thread too; under load
    // Wine can take a moment to settle after a window shows, so this must
    // hold a few polls in a row.
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    int steady = 0;
    return WaitFor([&] {
        if (GetForegroundWindow() != window) {
            SetForegroundWindow(window);
            steady = 0;
            return false;
        }
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        const bool active = GetGUIThreadInfo(thread, &info) && info.hwndActive == window;
        steady = active ? steady + 1 : 0;
        return steady >= 3;
    }, Milliseconds(3000));
}

namespace {

bool IsExtendedKey(WORD vk)
{
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
    case VK_INSERT: case VK_DELETE:
        return true;
    default:
        return false;
    }
}

INPUT KeyInput(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (IsExtendedKey(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    return input;
}

void Send(std::vector<INPUT> inputs)
{
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

INPUT MouseInput(DWORD flags, LONG dx = 0, LONG dy = 0)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = flags;
    return input;
}

}  // namespace

void PressKey(WORD vk)
{
    Send({KeyInput(vk, false), KeyInput(vk, true)});
}

void PressChord(WORD modifier, WORD vk)
{
    Send({KeyInput(modifier, false), KeyInput(vk, false), KeyInput(vk, true), KeyInput(modifier, true)});
}

void TypeText(const std::wstring& text)
{
    for (wchar_t c : text) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        down.ki.wScan = c;
        down.ki.dwFlags = KEYEVENTF_UNICODE;
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        Send({down, up});
    }
}

void ClickAt(POINT screen)
{
    // Absolute coordinates run 0..65535 over the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const LONG dx = MulDiv(screen.x, 65536, width) + 65536 / width / 2;
    const LONG dy = MulDiv(screen.y, 65536, height) + 65536 / height / 2;
    constexpr DWORD kAt = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    Send({MouseInput(kAt, dx, dy)});
    WaitFor([&] {
        POINT at{};
        GetCursorPos(&at);
        return at.x == screen.x && at.y == screen.y;
    }, Milliseconds(1000));
    // The press and the release carry the point too: under load, a late
    // pointer event from X can still move the cursor after the move above.
    Send({MouseInput(kAt | MOUSEEVENTF_LEFTDOWN, dx, dy), MouseInput(kAt | MOUSEEVENTF_LEFTUP, dx, dy)});
}

void Click(HWND control)
{
    const POINT centre = Centre(WindowRect(control));
    // Nothing may lie on top of it, as a person would see.
    WaitFor([&] { return WindowFromPoint(centre) == control; }, Milliseconds(1000));
    ClickAt(centre);
}

// ---- The virtual adapter ----------------------------------------------------

std::optional<LibraryCall> ParseCallLine(const std::string& line)
{
    std::istringstream in(line);
    LibraryCall call;
    if (!(in >> call.op) || (call.op != "open" && call.op != "read" && call.op != "write"))
        return std::nullopt;
    std::string word;
    while (in >> word && word != "->") {
        long long value = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || end != word.data() + word.size())
            return std::nullopt;
        call.args.push_back(value);
    }
    if (word != "->" || !(in >> call.result))
        return std::nullopt;
    const size_t expectedArgs = call.op == "open" ? 3 : 2;
    if (call.args.size() != expectedArgs)
        return std::nullopt;
    if (call.op == "open")
        return in >> word ? std::nullopt : std::optional<LibraryCall>(call);

    std::string hex;
    if (!(in >> hex) || in >> word)
        return std::nullopt;
    if (hex == "null")
        return call;
    if (hex.size() != 104 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::nullopt;
    for (size_t i = 0; i < hex.size(); i += 2) {
        uint8_t byte = 0;
        std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        call.record.push_back(byte);
    }
    return call;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path)
{
    // Shared with the adapter, which may be appending.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<LibraryCall> ReadCallLog(const std::wstring& path)
{
    std::string text;
    for (uint8_t byte : ReadFileBytes(path))
        text += static_cast<char>(byte);
    // A line still being written has no line feed yet; it counts next time.
    const size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    std::istringstream in(text);
    std::vector<LibraryCall> calls;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        auto call = ParseCallLine(line);
        // A line we cannot read is a finding of its own; keep it visible.
        calls.push_back(call ? *call : LibraryCall{"unparsable: " + line, {}, -1, {}});
    }
    return calls;
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::vector<uint8_t> FactoryRecord()
{
    std::vector<uint8_t> record = {0x00, 0x02, 0x13, 0x02, 0, 0, 0, 0, 0xFF, 0xFF, 2};
    for (char c : std::string("VN240017"))
        record.push_back(static_cast<uint8_t>(c));
    for (char c : std::string("Virtual CAN"))
        record.push_back(static_cast<uint8_t>(c));
    record.resize(52, 0);
    return record;
}

// ---- The system menu, read inside Varnock's process ----------------------------

std::optional<std::vector<MenuItem>> ReadSystemMenu(HWND window, DWORD guiThread, const std::wstring& file)
{
    DeleteFileW(file.c_str());
    HMODULE reader = LoadLibraryW((ExeDirectory() + L"\\varnock_e2e_menu_reader.dll").c_str());
    // Through void*: FARPROC and HOOKPROC differ in their parameters.
    auto hook = reader ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(reader, "ReadSystemMenuHook")))
                       : nullptr;
    HHOOK installed = hook ? SetWindowsHookExW(WH_GETMESSAGE, hook, reader, guiThread) : nullptr;
    if (installed == nullptr) {
        if (reader != nullptr)
            FreeLibrary(reader);
        return std::nullopt;
    }
    PostMessageW(window, RegisterWindowMessageW(L"VarnockE2EReadSystemMenu"), 0, 0);
    const bool written = WaitFor([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; });
    UnhookWindowsHookEx(installed);
    FreeLibrary(reader);
    if (!written)
        return std::nullopt;

    // One line per item: type in hex, id, text in UTF-8. The hook writes the
    // file whole before it renames it into place.
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<MenuItem> items;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        MenuItem item;
        fields >> std::hex >> item.type >> std::dec >> item.id;
        std::string text;
        std::getline(fields, text);
        item.text = Utf16(text.empty() ? text : text.substr(1));
        items.push_back(item);
    }
    return items;
}

// ---- One run of Varnock.exe ---------------------------------------------------

std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& environment)
{
    std::wstring block;
    for (const wchar_t* entry = GetEnvironmentStringsW(); *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring variable = entry;
        const std::wstring name = Upper(variable.substr(0, variable.find(L'=', 1)));
        if (name.rfind(L"VADAPTER_", 0) == 0 || environment.count(name) != 0)
            continue;
        block += variable;
        block += L'\0';
    }
    for (const auto& [name, value] : environment) {
        block += name + L"=" + value;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

void SayStartedAgain(const std::string& what)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "?";
    const std::string line = "e2e: " + name + ": " + what + "; started once more";
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    // ctest shows a passing test's output to no one; the file is for test.sh.
    const std::wstring file = ArtifactDirectory() + L"\\started-again.txt";
    std::ofstream(file.c_str(), std::ios::app | std::ios::binary) << line << "\n";
}

Varnock::Varnock(const std::map<std::wstring, std::wstring>& environment, const std::wstring& arguments)
{
    const std::wstring block = EnvironmentBlock(environment);
    const std::wstring directory = ExeDirectory();
    const std::wstring exe = directory + L"\\Varnock.exe";
    const std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    // Now and then Wine loses a process as it starts, before any window.
    // Varnock touches no adapter before its window shows, so it is started
    // again; a call it did make stays in the test's log, which both starts
    // share. test.sh fails a run with more than one such start.
    Launch(exe, commandLine, block, directory);
    if (m_main == nullptr && m_startError == 0 && Exited(Milliseconds(0))) {
        SayStartedAgain("Varnock.exe ended before its window (exit code " + std::to_string(ExitCode()) + ")");
        Close();
        Launch(exe, commandLine, block, directory);
    }
}

void Varnock::Launch(const std::wstring& exe, std::wstring commandLine, std::wstring block,
                     const std::wstring& directory)
{
    // In a job that ends it when the job's last handle closes: if the test
    // program dies, Varnock goes with it.
    m_job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, block.data(), directory.c_str(), &startup,
                        &m_process)) {
        m_startError = GetLastError();
        m_process = {};
        return;
    }
    AssignProcessToJobObject(m_job, m_process.hProcess);
    ResumeThread(m_process.hThread);
    WaitForInputIdle(m_process.hProcess, static_cast<DWORD>(kWait.count()));
    WaitFor([&] {
        m_main = otherwindows::MainWindow(m_process.dwProcessId, L"#32770");
        if (m_main != nullptr) {
            m_guiThread = GetWindowThreadProcessId(m_main, nullptr);
            return true;
        }
        return Exited(Milliseconds(0));
    });
}

void Varnock::Close()
{
    Terminate();
    if (m_process.hProcess != nullptr) {
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
        m_process = {};
    }
    if (m_job != nullptr) {
        CloseHandle(m_job);
        m_job = nullptr;
    }
}

Varnock::~Varnock()
{
    Close();
}

FieldTexts Varnock::Fields() const
{
    FieldTexts texts;
    for (int id : kFieldIds)
        texts[id] = Field(id);
    return texts;
}

HWND Varnock::FocusedWindow() const
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(m_guiThread, &info))
        return nullptr;
    return info.hwndFocus;
}

int Varnock::FocusedControlId() const
{
    HWND focus = FocusedWindow();
    return focus != nullptr && IsChild(m_main, focus) ? GetDlgCtrlID(focus) : 0;
}

bool Varnock::Exited(Milliseconds timeout) const
{
    return m_process.hProcess == nullptr ||
           WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

DWORD Varnock::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

void Varnock::Terminate()
{
    if (m_process.hProcess == nullptr || Exited(Milliseconds(0)))
        return;
    TerminateProcess(m_process.hProcess, 99);
    WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(kWait.count()));
}

std::optional<Dialog> Varnock::WaitForDialog(Milliseconds timeout) const
{
    // A message box is laid out after it is created: it counts as open once
    // its OK button shows and it has kept its place for a moment.
    std::optional<Dialog> dialog;
    RECT last{};
    int steady = 0;
    WaitFor([&] {
        dialog = OwnedDialog(m_main);
        if (!dialog || dialog->text.empty() || !IsWindowVisible(GetDlgItem(dialog->window, IDOK)))
            return false;
        const RECT now = WindowRect(dialog->window);
        steady = EqualRect(&now, &last) ? steady + 1 : 0;
        last = now;
        return steady >= 3;
    }, timeout);
    return steady >= 3 ? dialog : std::nullopt;
}

bool Varnock::WaitForNoDialog(Milliseconds timeout) const
{
    return WaitFor([&] { return !OwnedDialog(m_main); }, timeout);
}

}  // namespace e2e
