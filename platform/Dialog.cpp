#include "platform/Dialog.h"

#include "text/TextConversion.h"
#include "platform/WinApp.h"

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    HWND control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (pDX->m_bSaveAndValidate) {
        if (!WideToCp936(GetWindowTextWide(control), value))
            value.Empty();
    } else {
        // Line feeds go before decoding. 0x0A is never part of a double-byte
        // character, so this cuts none.
        CString shown;
        const char* bytes = value.GetString();
        const int length = value.GetLength();
        int start = 0;  // where the piece after the last line feed begins
        for (int i = 0; i < length; ++i) {
            if (bytes[i] == '\n') {
                shown += CString(bytes + start, static_cast<size_t>(i - start));
                start = i + 1;
            }
        }
        shown += CString(bytes + start, static_cast<size_t>(length - start));
        SetWindowTextWide(control, Cp936ToWide(shown).GetString());
    }
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal()
{
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (owner == nullptr)
        owner = AfxGetOwnerWindow(this);
    return DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::CheckAutoCenter()
{
    HINSTANCE module = AfxGetInstanceHandle();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(m_templateId), RT_DIALOG);
    const auto* words = found ? static_cast<const WORD*>(LockResource(LoadResource(module, found))) : nullptr;
    if (words == nullptr)
        return FALSE;
    // x and y follow the style words: at byte 18 in an extended template
    // (it starts with version 1, signature 0xFFFF), at byte 10 in a plain one.
    const bool extended = words[0] == 1 && words[1] == 0xFFFF;
    const WORD* position = extended ? words + 9 : words + 5;
    return position[0] == 0 && position[1] == 0;
}

// The dialog manager does not centre a dialog by itself (only with DS_CENTER),
// so a template at 0, 0 is centred here, unless OnInitDialog placed it.
BOOL CDialog::HandleInitDialog()
{
    RECT before;
    ::GetWindowRect(m_hWnd, &before);
    const BOOL result = OnInitDialog();
    RECT after;
    ::GetWindowRect(m_hWnd, &after);
    const LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
    const bool moved = before.left != after.left || before.top != after.top;
    if (!moved && !(style & (WS_CHILD | DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN)) && CheckAutoCenter())
        CenterWindow();
    return result;
}

// F1: the help command goes to the main window, and from there to the
// application's map.
BOOL CDialog::OnHelpInfo(HELPINFO* /*info*/)
{
    CWinApp* app = AfxGetApp();
    CWnd* main = app != nullptr ? app->m_pMainWnd : nullptr;
    if (main != nullptr && main->GetSafeHwnd() != nullptr)
        main->SendMessage(WM_COMMAND, ID_HELP);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return dialog->HandleInitDialog();
    }
    // Nothing before WM_INITDIALOG (WM_SETFONT) reaches the object.
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;

    LRESULT result = 0;
    const bool handled = dialog->OnWndMsg(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
    }
    if (!handled)
        return FALSE;  // the dialog manager's default processing
    switch (message) {
    // These return their value directly; the rest through DWLP_MSGRESULT.
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
