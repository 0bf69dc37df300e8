// Dialogs of the platform layer, run for real: data exchange through edit
// controls, OK and Cancel, centring, and the message map's default handling.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/tests/TestResources.h"

namespace {

constexpr UINT kAfterOpening = WM_APP + 1;

// A dialog with two texts; `script` runs once it is open and centred.
class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT templateId = IDD_TEST_EXTENDED, CWnd* parent = nullptr) : CDialog(templateId, parent) {}

    using CDialog::CheckAutoCenter;

    CString m_first;
    CString m_second;
    std::function<void(TestDialog&)> script;

    HWND Edit(int id) const { return GetDlgItem(id); }
    RECT WindowRect() const
    {
        RECT rect;
        ::GetWindowRect(m_hWnd, &rect);
        return rect;
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_TEST_FIRST, m_first);
        if (GetDlgItem(IDC_TEST_SECOND) != nullptr)
            DDX_Text(pDX, IDC_TEST_SECOND, m_second);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        PostMessageW(m_hWnd, kAfterOpening, 0, 0);
        return TRUE;
    }

    HCURSOR OnQueryDragIcon() { return LoadCursorW(nullptr, IDC_HAND); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_WM_QUERYDRAGICON()
    if (message == kAfterOpening) {
        if (script)
            script(*this);
        else
            EndDialog(IDCANCEL);
        return true;
    }
END_MESSAGE_MAP()

// Runs the dialog; -1 means it could not even be created.
INT_PTR RunModal(TestDialog& dialog)
{
    const INT_PTR result = dialog.DoModal();
    EXPECT_NE(result, -1) << "no dialog: these tests need a display (DISPLAY, e.g. Xvfb)";
    return result;
}

void Close(TestDialog& dialog)
{
    PostMessageW(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
}

struct PushCase {
    const char* name;
    std::string member;
    std::wstring shown;
};
// Failures and test lists name the case, not its bytes.
void PrintTo(const PushCase& row, std::ostream* os) { *os << row.name; }

class DataExchangePushTest : public testing::TestWithParam<PushCase> {};

TEST_P(DataExchangePushTest, ShowsTheTextAndKeepsTheMember)
{
    TestDialog dialog;
    dialog.m_first = CString(GetParam().member.data(), GetParam().member.size());
    std::wstring shown;
    dialog.script = [&](TestDialog& d) {
        const CWideString text = GetWindowTextWide(d.Edit(IDC_TEST_FIRST));
        shown.assign(text.GetString(), text.GetLength());
        Close(d);
    };
    ASSERT_EQ(RunModal(dialog), IDCANCEL);
    EXPECT_EQ(shown, GetParam().shown);
    EXPECT_EQ(dialog.m_first.Bytes(), GetParam().member);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DataExchangePushTest,
    testing::Values(PushCase{"Ascii", "Virtual CAN", L"Virtual CAN"},
                    PushCase{"TrailingLineFeedLeftOut", "V2.0\n", L"V2.0"},
                    PushCase{"EveryLineFeedLeftOut", "A\nB\n", L"AB"},
                    PushCase{"Chinese", "\xD6\xD0\xCE\xC4", L"\u4E2D\u6587"},
                    PushCase{"UndecodableByte", "AB\xFF", L"AB\uFFFD"},
                    // The line feed goes before decoding: the bytes around it make one character.
                    PushCase{"LineFeedInsideAPair", "\x81\n\x40", L"\u4E02"}),
    [](const testing::TestParamInfo<PushCase>& test) { return std::string(test.param.name); });

struct TakeCase {
    const char* name;
    std::wstring typed;
    std::string member;
};
void PrintTo(const TakeCase& row, std::ostream* os) { *os << row.name; }

class DataExchangeTakeTest : public testing::TestWithParam<TakeCase> {};

TEST_P(DataExchangeTakeTest, GivesExactBytesOrTheEmptyText)
{
    TestDialog dialog;
    dialog.m_first = "before";
    dialog.script = [&](TestDialog& d) {
        SetWindowTextWide(d.Edit(IDC_TEST_FIRST), GetParam().typed.c_str());
        d.UpdateData(TRUE);
        Close(d);
    };
    ASSERT_EQ(RunModal(dialog), IDCANCEL);
    EXPECT_EQ(dialog.m_first.Bytes(), GetParam().member);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DataExchangeTakeTest,
    testing::Values(TakeCase{"TwoDigits", L"17", "17"},
                    TakeCase{"OneDoubleByteCharacter", L"\u4E2D", "\xD6\xD0"},
                    TakeCase{"Empty", L"", ""},
                    TakeCase{"Emoji", L"\U0001F600", ""},
                    TakeCase{"BestFitLookAlike", L"\u00C0" L"A", ""},
                    TakeCase{"ShownReplacementCharacter", L"A\uFFFD", ""}),
    [](const testing::TestParamInfo<TakeCase>& test) { return std::string(test.param.name); });

TEST(DialogTest, OkTakesTheTextsThenEnds)
{
    TestDialog dialog;
    dialog.script = [](TestDialog& d) {
        SetWindowTextWide(d.Edit(IDC_TEST_SECOND), L"xy");
        PostMessageW(d.m_hWnd, WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(RunModal(dialog), IDOK);
    EXPECT_EQ(dialog.m_second, CString("xy"));
}

TEST(DialogTest, CancelEndsWithoutTakingTheTexts)
{
    TestDialog dialog;
    dialog.m_second = "kept";
    dialog.script = [](TestDialog& d) {
        SetWindowTextWide(d.Edit(IDC_TEST_SECOND), L"typed");
        PostMessageW(d.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(RunModal(dialog), IDCANCEL);
    EXPECT_EQ(dialog.m_second, CString("kept"));
}

// Putting back a text that is already shown leaves the field alone: the
// operator's caret and selection stay. A changed text replaces it.
TEST(DialogTest, PuttingTextsBackKeepsUnchangedFields)
{
    TestDialog dialog;
    dialog.m_first = "17";
    dialog.m_second = "old";
    DWORD firstSelection = 0, secondSelection = 0;
    CWideString second;
    dialog.script = [&](TestDialog& d) {
        SendMessageW(d.Edit(IDC_TEST_FIRST), EM_SETSEL, 1, 2);
        SendMessageW(d.Edit(IDC_TEST_SECOND), EM_SETSEL, 1, 2);
        d.m_second = "new";
        d.UpdateData(FALSE);
        firstSelection = DWORD(SendMessageW(d.Edit(IDC_TEST_FIRST), EM_GETSEL, 0, 0));
        secondSelection = DWORD(SendMessageW(d.Edit(IDC_TEST_SECOND), EM_GETSEL, 0, 0));
        second = GetWindowTextWide(d.Edit(IDC_TEST_SECOND));
        PostMessageW(d.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    RunModal(dialog);
    EXPECT_EQ(firstSelection, DWORD(MAKELONG(1, 2)));
    EXPECT_NE(secondSelection, DWORD(MAKELONG(1, 2)));
    EXPECT_EQ(std::wstring(second.GetString()), L"new");
}

TEST(DialogTest, EnterInAnEditIsOk)
{
    TestDialog dialog;
    dialog.script = [](TestDialog& d) {
        HWND edit = d.Edit(IDC_TEST_FIRST);
        SetWindowTextWide(edit, L"42");
        SetFocus(edit);
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    };
    EXPECT_EQ(RunModal(dialog), IDOK);
    EXPECT_EQ(dialog.m_first, CString("42"));
}

// The dialog manager takes this one's value from the dialog procedure's
// return, not from DWLP_MSGRESULT.
TEST(DialogTest, QueryDragIconReturnsTheHandlersValue)
{
    TestDialog dialog;
    LRESULT icon = 0;
    dialog.script = [&](TestDialog& d) {
        icon = d.SendMessage(WM_QUERYDRAGICON);
        Close(d);
    };
    RunModal(dialog);
    EXPECT_EQ(icon, reinterpret_cast<LRESULT>(LoadCursorW(nullptr, IDC_HAND)));
}

TEST(DialogTest, CentresOnlyTemplatesAtTheOrigin)
{
    TestDialog extended(IDD_TEST_EXTENDED);
    TestDialog plain(IDD_TEST_PLAIN);
    TestDialog placed(IDD_TEST_PLACED);
    EXPECT_TRUE(extended.CheckAutoCenter());
    EXPECT_TRUE(plain.CheckAutoCenter());
    EXPECT_FALSE(placed.CheckAutoCenter());
}

// Where the platform puts a width x height window centred in `around`,
// kept inside `area`.
POINT CentredIn(const RECT& around, const RECT& area, int width, int height)
{
    LONG x = (around.left + around.right) / 2 - width / 2;
    LONG y = (around.top + around.bottom) / 2 - height / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    return {x, y};
}

RECT PrimaryWorkArea()
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcWork;
}

TEST(DialogTest, WithoutOwnerCentresOnTheWorkArea)
{
    TestDialog dialog;
    RECT rect{};
    dialog.script = [&](TestDialog& d) {
        rect = d.WindowRect();
        Close(d);
    };
    RunModal(dialog);
    const RECT area = PrimaryWorkArea();
    const POINT expected = CentredIn(area, area, rect.right - rect.left, rect.bottom - rect.top);
    EXPECT_EQ(rect.left, expected.x);
    EXPECT_EQ(rect.top, expected.y);
}

TEST(DialogTest, WithOwnerCentresOverIt)
{
    HWND ownerWindow = CreateWindowExW(0, L"Static", L"owner", WS_POPUP | WS_VISIBLE, 40, 60, 500, 300, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(ownerWindow, nullptr);
    CWnd owner;
    owner.m_hWnd = ownerWindow;
    TestDialog dialog(IDD_TEST_EXTENDED, &owner);
    RECT rect{};
    bool ownerDisabled = false;
    dialog.script = [&](TestDialog& d) {
        rect = d.WindowRect();
        ownerDisabled = !IsWindowEnabled(ownerWindow);
        Close(d);
    };
    RunModal(dialog);
    RECT ownerRect;
    GetWindowRect(ownerWindow, &ownerRect);
    const POINT expected = CentredIn(ownerRect, PrimaryWorkArea(), rect.right - rect.left, rect.bottom - rect.top);
    EXPECT_EQ(rect.left, expected.x);
    EXPECT_EQ(rect.top, expected.y);
    EXPECT_TRUE(ownerDisabled);  // modal to its owner
    owner.m_hWnd = nullptr;
    DestroyWindow(ownerWindow);
}

// Commands no window takes reach the application's map; F1 (WM_HELP) in a
// dialog becomes the help command there.
class HelpCountingApp : public CWinApp {
public:
    HelpCountingApp() : CWinApp(L"test") {}
    int helpCommands = 0;
    void CountHelp() { ++helpCommands; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(HelpCountingApp, CWinApp)
    ON_COMMAND(ID_HELP, CountHelp)
END_MESSAGE_MAP()

TEST(DialogTest, HelpReachesTheApplicationsMap)
{
    HelpCountingApp app;
    TestDialog dialog;
    app.m_pMainWnd = &dialog;
    dialog.script = [](TestDialog& d) {
        HELPINFO info{};
        info.cbSize = sizeof info;
        d.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        d.SendMessage(WM_COMMAND, ID_HELP);
        Close(d);
    };
    RunModal(dialog);
    EXPECT_EQ(app.helpCommands, 2);
}

// A handler that calls the base handler asks for the default processing; one
// that does not has taken the message, even when it ran a nested dispatch of
// its own on the way (as a modal loop does).
class PaintTarget : public CWnd {
public:
    bool callBase = false;
    bool nested = false;

protected:
    void OnPaint()
    {
        if (nested) {
            nested = false;
            callBase = true;
            LRESULT ignored = 0;
            OnWndMsg(WM_PAINT, 0, 0, ignored);
            callBase = false;
        } else if (callBase) {
            CWnd::OnPaint();
        }
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(PaintTarget, CWnd)
    ON_WM_PAINT()
END_MESSAGE_MAP()

TEST(MessageMapTest, BaseHandlerAsksForDefaultProcessing)
{
    PaintTarget target;
    LRESULT result = 0;
    EXPECT_TRUE(target.OnWndMsg(WM_PAINT, 0, 0, result));
    target.callBase = true;
    EXPECT_FALSE(target.OnWndMsg(WM_PAINT, 0, 0, result));
    target.callBase = false;
    target.nested = true;
    EXPECT_TRUE(target.OnWndMsg(WM_PAINT, 0, 0, result));
    EXPECT_FALSE(target.OnWndMsg(WM_SIZE, 0, 0, result));  // no entry
}

}  // namespace
