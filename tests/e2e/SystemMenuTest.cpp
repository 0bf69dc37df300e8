// The About item at the end of the system menu, and the About box it opens.
#include <cstdlib>
#include <functional>

#include "VarnockTest.h"

namespace e2e {
namespace {

constexpr UINT kAboutCommand = 0x0010;

class SystemMenuTest : public VarnockTest {
protected:
    void StartWithMenuReader()
    {
        m_menuFile = m_directory + L"\\system-menu.txt";
        Start(FactoryRecord(), {{kMenuFileVariable, m_menuFile}});
    }

    // Alt+Space opens the menu on its first item; Up wraps round to the last.
    void ChooseLastSystemMenuItem()
    {
        ASSERT_TRUE(BringToForeground(App().Main()));
        PressChord(VK_MENU, VK_SPACE);
        ASSERT_TRUE(WaitFor([&] { return PopupMenuShown(); })) << "Alt+Space opens no menu";
        PressKey(VK_UP);
        PressKey(VK_RETURN);
    }

    bool PopupMenuShown()
    {
        for (HWND window : TopLevelWindows(App().ProcessId()))
            if (ClassName(window) == L"#32768" && IsWindowVisible(window))
                return true;
        return false;
    }

    std::wstring m_menuFile;
};

TEST_F(SystemMenuTest, EndsWithASeparatorAndTheAboutItem)
{
    StartWithMenuReader();
    const auto items = ReadSystemMenu(App().Main(), App().GuiThreadId(), m_menuFile);
    ASSERT_TRUE(items) << "the system menu could not be read";
    ASSERT_GE(items->size(), 3u);
    const MenuItem& last = items->back();
    const MenuItem& beforeLast = (*items)[items->size() - 2];
    EXPECT_EQ(beforeLast.type & MFT_SEPARATOR, static_cast<UINT>(MFT_SEPARATOR));
    EXPECT_EQ(last.type, static_cast<UINT>(MFT_STRING));
    EXPECT_EQ(last.id, kAboutCommand);
    EXPECT_EQ(last.text, L"关于 Varnock(&A)...");

    // Added once, and the platform's own items are still there.
    int aboutItems = 0;
    bool close = false;
    for (const MenuItem& item : *items) {
        aboutItems += item.id == kAboutCommand;
        close = close || item.id == SC_CLOSE;
    }
    EXPECT_EQ(aboutItems, 1);
    EXPECT_TRUE(close) << "the system menu lost its Close item";
}

// ---- The About box and every way of closing it --------------------------------

struct AboutCloser {
    const char* name;
    std::function<void(const Dialog&)> close;
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const AboutCloser& row, std::ostream* os) { *os << row.name; }

const AboutCloser kAboutClosers[] = {
    {"ClickOnOk", [](const Dialog& box) { Click(GetDlgItem(box.window, IDOK)); }},
    {"Enter", [](const Dialog&) { PressKey(VK_RETURN); }},
    {"Esc", [](const Dialog&) { PressKey(VK_ESCAPE); }},
    {"AltF4", [](const Dialog&) { PressChord(VK_MENU, VK_F4); }},
};

class AboutBox : public SystemMenuTest, public ::testing::WithParamInterface<AboutCloser> {};

TEST_P(AboutBox, OpensCentredOverTheMainWindowAndReturnsToItUnchanged)
{
    Start();
    OpenAndRead();
    const FieldTexts fields = App().Fields();
    const RECT mainRect = WindowRect(App().Main());
    const int focus = App().FocusedControlId();
    const size_t calls = Calls().size();

    ChooseLastSystemMenuItem();
    const auto box = App().WaitForDialog();
    ASSERT_TRUE(box) << "the About box does not open";
    EXPECT_EQ(box->caption, L"关于 Varnock");
    ASSERT_GE(box->texts.size(), 2u);
    EXPECT_EQ(box->texts[0], L"Varnock 1.0 版");
    HWND ok = GetDlgItem(box->window, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(WindowText(ok), L"确定");
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_FALSE(IsWindowEnabled(App().Main())) << "the main window takes input under the About box";

    const POINT boxCentre = Centre(WindowRect(box->window));
    const POINT mainCentre = Centre(mainRect);
    EXPECT_LE(std::abs(boxCentre.x - mainCentre.x), 1) << boxCentre.x << " vs " << mainCentre.x;
    EXPECT_LE(std::abs(boxCentre.y - mainCentre.y), 1) << boxCentre.y << " vs " << mainCentre.y;

    ASSERT_TRUE(BringToForeground(box->window));
    if (std::string(GetParam().name) == "ClickOnOk")
        SaveScreenshot(App().Main(), L"about-box");
    GetParam().close(*box);

    EXPECT_TRUE(App().WaitForNoDialog()) << "the About box stays open";
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(App().Main()) && GetForegroundWindow() == App().Main(); }));
    EXPECT_FALSE(App().Exited(kWatch));
    EXPECT_EQ(App().Fields(), fields);
    const RECT after = WindowRect(App().Main());
    EXPECT_TRUE(EqualRect(&after, &mainRect));
    EXPECT_TRUE(WaitFor([&] { return App().FocusedControlId() == focus; }))
        << "the focus was on " << focus << ", now on " << App().FocusedControlId();
    EXPECT_EQ(Calls().size(), calls) << "the About box touched the device";
}

INSTANTIATE_TEST_SUITE_P(Closers, AboutBox, ::testing::ValuesIn(kAboutClosers),
                         [](const auto& test) { return std::string(test.param.name); });

// The handler looks at the command with its low four bits cleared.
TEST_F(SystemMenuTest, ACommandWithTheLowBitsSetAlsoOpensTheAboutBox)
{
    Start();
    PostMessageW(App().Main(), WM_SYSCOMMAND, kAboutCommand | 0x3, 0);
    const auto box = App().WaitForDialog();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"关于 Varnock");
    ASSERT_TRUE(BringToForeground(box->window));
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(App().WaitForNoDialog());
}

}  // namespace
}  // namespace e2e
