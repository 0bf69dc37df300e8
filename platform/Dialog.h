// Modal dialogs from templates, and the exchange of texts between a dialog's
// controls and its CString members.
#pragma once

#include <windows.h>

#include "text/CString.h"
#include "platform/Window.h"

class CDialog;

// Which way one UpdateData runs.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    BOOL m_bSaveAndValidate;  // TRUE: controls -> members; FALSE: members -> controls
    CDialog* m_pDlgWnd;
};

// Moves the text of control `id` to `value` or back, as code page 936 bytes.
// Line feeds are left out of what a control shows (a single-line edit would
// draw them as a stray glyph); the member keeps them. A typed text with no
// exact code page 936 form gives the empty text: there are no bytes that
// stand for it, and the empty text is what the checks downstream refuse.
void DDX_Text(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
public:
    // parent: the owner while the dialog is open; none means the
    // application's main window, if it has one.
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override = default;

    // Runs the dialog until EndDialog; returns its result, or -1 when it could
    // not be created.
    virtual INT_PTR DoModal();

    // TRUE: controls -> members; FALSE: members -> controls.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // Pushes the members to the controls. TRUE: the dialog manager puts the
    // focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK();      // takes the texts, then ends with IDOK
    virtual void OnCancel();  // ends with IDCANCEL
    // Whether to centre on opening: yes when the template sits at 0, 0.
    virtual BOOL CheckAutoCenter();

    void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL HandleInitDialog();
    BOOL OnHelpInfo(HELPINFO* info);

    UINT m_templateId;
    CWnd* m_pParentWnd;
};
