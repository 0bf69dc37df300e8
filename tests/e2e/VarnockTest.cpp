#include "VarnockTest.h"

#include <algorithm>
#include <cstdio>

#include "Screenshot.h"

namespace e2e {

namespace {

// Ends a hung test: ctest's own timeout would leave the Wine processes
// behind, this one takes Varnock down with it (see the job in Varnock).
constexpr DWORD kTestTimeoutMs = 45000;

DWORD WINAPI Watchdog(void* stopEvent)
{
    if (WaitForSingleObject(stopEvent, kTestTimeoutMs) == WAIT_TIMEOUT) {
        std::fprintf(stderr, "e2e: the test took longer than %lu ms; ending it\n", kTestTimeoutMs);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return 0;
}

std::wstring TestName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    return Utf16(name);
}


// A person tells the message box's icon by its colour: the exclamation mark
// sits on an orange triangle, where an error is red and a question or an
// information blue.
std::string IconColours(HWND box)
{
    HWND icon = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
            icon = child;
    if (icon == nullptr)
        return "no icon";
    const Picture picture = CaptureSettled(WindowRect(icon));
    int orange = 0, red = 0, blue = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.At(x, y);
            orange += p[0] > 200 && p[1] > 90 && p[1] < 190 && p[2] < 80;
            red += p[0] > 180 && p[1] < 60 && p[2] < 60;
            blue += p[2] > 150 && p[0] < 120;
        }
    if (orange >= 50 && red < 10 && blue < 10)
        return "exclamation";
    return "orange " + std::to_string(orange) + ", red " + std::to_string(red) + ", blue " + std::to_string(blue);
}

}  // namespace

void RemoveFiles(const std::wstring& directory)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((directory + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

Record Patched(Record record, size_t offset, const std::vector<uint8_t>& bytes)
{
    std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
    return record;
}

Record Patched(Record record, size_t offset, const std::string& text)
{
    return Patched(std::move(record), offset, std::vector<uint8_t>(text.begin(), text.end()));
}

void VarnockTest::SetUp()
{
    // One GUI test at a time in a Wine session, even under ctest -j: they
    // share the keyboard, the mouse and the foreground window.
    m_sessionLock = CreateMutexW(nullptr, FALSE, L"VarnockEndToEndSession");
    ASSERT_NE(WaitForSingleObject(m_sessionLock, 4 * 60 * 1000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "another end-to-end test holds the session";

    m_watchdogStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_watchdog = CreateThread(nullptr, 0, Watchdog, m_watchdogStop, 0, nullptr);

    // <build>/e2e-work/<test>-<code page>: kept after the run for a look.
    const std::wstring work = BuildDirectory() + L"\\e2e-work";
    CreateDirectoryW(work.c_str(), nullptr);
    m_directory = work + L"\\" + TestName() + L"-cp" + std::to_wstring(GetACP());
    CreateDirectoryW(m_directory.c_str(), nullptr);
    RemoveFiles(m_directory);
    m_image = m_directory + L"\\adapter.bin";
    m_log = m_directory + L"\\calls.log";
}

void VarnockTest::TearDown()
{
    m_app.reset();  // ends Varnock if the test has not
    if (m_watchdog != nullptr) {
        SetEvent(m_watchdogStop);
        WaitForSingleObject(m_watchdog, INFINITE);
        CloseHandle(m_watchdog);
        CloseHandle(m_watchdogStop);
    }
    if (m_sessionLock != nullptr) {
        ReleaseMutex(m_sessionLock);
        CloseHandle(m_sessionLock);
    }
}

void VarnockTest::Start(const std::optional<Record>& record, const Environment& extra, const std::wstring& arguments)
{
    if (record)
        WriteFileBytes(m_image, *record);
    Environment environment = extra;
    environment[L"VADAPTER_IMAGE"] = m_image;
    environment[L"VADAPTER_LOG"] = m_log;
    m_app = std::make_unique<Varnock>(environment, arguments);
    ASSERT_EQ(m_app->StartError(), 0u) << "cannot start " << Utf8(ExeDirectory()) << "\\Varnock.exe";
    ASSERT_TRUE(m_app->Started()) << "Varnock.exe did not show its main window; "
                                  << (m_app->Exited(Milliseconds(0))
                                          ? "it ended with exit code " + std::to_string(m_app->ExitCode())
                                          : std::string("it still runs"));
    ASSERT_TRUE(BringToForeground(m_app->Main())) << "the main window does not come to the front";
}

std::vector<LibraryCall> VarnockTest::CallsOf(const std::string& op) const
{
    std::vector<LibraryCall> calls;
    for (const auto& call : Calls())
        if (call.op == op)
            calls.push_back(call);
    return calls;
}

void VarnockTest::ClickButton(int id)
{
    ASSERT_TRUE(BringToForeground(App().Main()));
    Click(App().Control(id));
}

void VarnockTest::ReplaceSuffix(const std::wstring& text)
{
    HWND field = App().Control(kSuffix);
    ASSERT_TRUE(BringToForeground(App().Main()));
    Click(field);
    ASSERT_TRUE(WaitFor([&] { return App().FocusedControlId() == kSuffix; })) << "a click does not focus the suffix field";
    PressKey(VK_END);
    for (size_t i = WindowText(field).size() + 2; i > 0; --i)
        PressKey(VK_BACK);
    TypeText(text);
    ASSERT_TRUE(WaitFor([&] { return WindowText(field) == text; }))
        << "the suffix field holds \"" << Utf8(WindowText(field)) << "\" after typing \"" << Utf8(text) << "\"";
}

void VarnockTest::OpenAndRead()
{
    const size_t before = CallsOf("read").size();
    ClickButton(kOpen);
    ASSERT_TRUE(WaitFor([&] { return CallsOf("read").size() > before; })) << "no read reached the adapter";
    // The fields are pushed right after the read returns.
    ASSERT_TRUE(WaitFor([&] { return !App().Field(kChannels).empty(); })) << "the fields stay empty after a read";
}

std::wstring VarnockTest::TakeMessage(bool byMouse, const std::wstring& screenshot)
{
    const auto box = App().WaitForDialog();
    if (!box) {
        ADD_FAILURE() << "no message box";
        return L"<no message box>";
    }
    EXPECT_EQ(box->caption, L"Varnock");
    // A plain OK box: one button, IDOK; the main window waits behind it.
    HWND ok = GetDlgItem(box->window, IDOK);
    EXPECT_NE(ok, nullptr) << "the message box has no OK button";
    EXPECT_EQ(GetDlgItem(box->window, IDCANCEL), nullptr);
    EXPECT_FALSE(IsWindowEnabled(App().Main())) << "the main window takes input while the message box is open";

    EXPECT_TRUE(BringToForeground(box->window));
    EXPECT_EQ(IconColours(box->window), "exclamation");
    if (!screenshot.empty())
        SaveScreenshot(box->window, screenshot);
    if (byMouse && ok != nullptr)
        Click(ok);
    else
        PressKey(VK_RETURN);
    EXPECT_TRUE(App().WaitForNoDialog()) << "the message box does not close";
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(App().Main()) != FALSE; }));
    return box->text;
}

void VarnockTest::SaveScreenshot(HWND window, const std::wstring& name)
{
    const std::wstring path = ArtifactDirectory() + L"\\" + name + L"-cp" + std::to_wstring(GetACP()) + L".png";
    EXPECT_TRUE(SavePng(CaptureSettled(WindowRect(window)), path)) << "cannot write " << Utf8(path);
    std::printf("screenshot: %s\n", Utf8(path).c_str());
}

}  // namespace e2e
