// Starting Varnock, moving around its window and every way of ending it.
#include <cstdlib>
#include <functional>

#include "VarnockTest.h"

namespace e2e {
namespace {

using StartTest = VarnockTest;

TEST_F(StartTest, ShowsEmptyFieldsWithTheFocusOnExitAndTouchesNoDevice)
{
    Start();
    EXPECT_EQ(WindowText(App().Main()), L"Varnock");
    // A caption with the close box alone, and a task-bar button of its own.
    const LONG style = GetWindowLongW(App().Main(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_CAPTION | WS_SYSMENU);
    EXPECT_TRUE(GetWindowLongW(App().Main(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    for (const auto& [id, text] : App().Fields())
        EXPECT_EQ(text, L"") << "control " << id;
    EXPECT_EQ(App().FocusedControlId(), kExit);

    // Centred on the work area.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const POINT window = Centre(WindowRect(App().Main()));
    const POINT area = Centre(work);
    EXPECT_LE(std::abs(window.x - area.x), 1);
    EXPECT_LE(std::abs(window.y - area.y), 1);

    // Answering WM_GETTEXT above means start-up is over: anything it did is logged.
    EXPECT_TRUE(Calls().empty()) << "the program called the library on its own";
}

TEST_F(StartTest, IgnoresItsCommandLine)
{
    Start(FactoryRecord(), {}, L"/open --write=42 extra");
    for (const auto& [id, text] : App().Fields())
        EXPECT_EQ(text, L"") << "control " << id;
    EXPECT_EQ(App().FocusedControlId(), kExit);
    EXPECT_TRUE(Calls().empty());
}

// Tab reaches the four enabled controls only, in template order, and wraps.
TEST_F(StartTest, TabVisitsExitSuffixOpenAndWriteInTurn)
{
    Start();
    // The control that has the focus after each key, 0 when it does not move.
    auto visit = [&](auto press, int times) {
        std::vector<int> visited;
        for (int i = 0; i < times; ++i) {
            const int before = App().FocusedControlId();
            press();
            WaitFor([&] { return App().FocusedControlId() != before; }, Milliseconds(1000));
            visited.push_back(App().FocusedControlId());
        }
        return visited;
    };
    EXPECT_EQ(visit([] { PressKey(VK_TAB); }, 5), (std::vector<int>{kSuffix, kOpen, kWrite, kExit, kSuffix}));
    EXPECT_EQ(visit([] { PressChord(VK_SHIFT, VK_TAB); }, 4), (std::vector<int>{kExit, kWrite, kOpen, kSuffix}));
    EXPECT_FALSE(App().Exited(kWatch));
}

// ---- Every way of ending the program ------------------------------------------

struct EndingCase {
    const char* name;
    std::function<void(VarnockTest&, Varnock&)> act;
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const EndingCase& row, std::ostream* os) { *os << row.name; }

void ClickCloseBox(Varnock& app)
{
    if (!WineDrawsTheFrames())
        GTEST_SKIP() << "Wine leaves the window frames to a window manager here, and there is none: "
                        "make the prefix with VARNOCK_WINE_HEADLESS=1";
    // The close box is the right-most caption button; the window's own hit
    // test confirms the point before it is clicked.
    const RECT rect = WindowRect(app.Main());
    const int frame = GetSystemMetrics(SM_CXDLGFRAME);
    const POINT point = {rect.right - frame - GetSystemMetrics(SM_CXSIZE) / 2 - 1,
                         rect.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
    DWORD_PTR hit = 0;
    SendMessageTimeoutW(app.Main(), WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y), SMTO_ABORTIFHUNG, 2000, &hit);
    EXPECT_EQ(hit, static_cast<DWORD_PTR>(HTCLOSE)) << "no close box at " << point.x << ", " << point.y;
    ClickAt(point);
}

class EndingTest : public VarnockTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndingTest, EndsTheProgramWithoutTouchingTheDevice)
{
    Start();
    GetParam().act(*this, App());
    if (IsSkipped())
        return;
    EXPECT_TRUE(App().Exited()) << "Varnock.exe still runs";
    EXPECT_TRUE(Calls().empty());
}

const EndingCase kEndings[] = {
    {"EnterRightAway", [](VarnockTest&, Varnock&) { PressKey(VK_RETURN); }},
    {"Esc", [](VarnockTest&, Varnock&) { PressKey(VK_ESCAPE); }},
    {"ClickOnExit", [](VarnockTest&, Varnock& app) { Click(app.Control(kExit)); }},
    {"EnterInTheSuffixField",
     [](VarnockTest&, Varnock& app) {
         PressKey(VK_TAB);
         ASSERT_TRUE(WaitFor([&] { return app.FocusedControlId() == kSuffix; }));
         TypeText(L"12");
         ASSERT_TRUE(WaitFor([&] { return app.Field(kSuffix) == L"12"; }));
         PressKey(VK_RETURN);
     }},
    {"AltF4", [](VarnockTest&, Varnock&) { PressChord(VK_MENU, VK_F4); }},
    {"CloseBox", [](VarnockTest&, Varnock& app) { ClickCloseBox(app); }},
    {"SystemMenuClose",
     [](VarnockTest&, Varnock& app) {
         // Alt+Space, then Close by its mnemonic.
         PressChord(VK_MENU, VK_SPACE);
         ASSERT_TRUE(WaitFor([&] {
             for (HWND window : TopLevelWindows(app.ProcessId()))
                 if (ClassName(window) == L"#32768" && IsWindowVisible(window))
                     return true;
             return false;
         })) << "Alt+Space opens no menu";
         PressKey('C');
     }},
};

INSTANTIATE_TEST_SUITE_P(Ways, EndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
