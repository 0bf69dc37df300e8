// Message maps. A class that handles messages writes DECLARE_MESSAGE_MAP() in
// its declaration and defines the map with BEGIN_MESSAGE_MAP(Class, Base),
// entries, END_MESSAGE_MAP(). The map compiles to one member function: a chain
// of tests, each calling its handler with typed arguments. A message that no
// entry takes goes on to the base class's map.
#pragma once

#include <windows.h>

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the message through the map. True when a handler took it; `result`
    // is then the handler's value. False asks for the default processing.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

protected:
    // The map itself; DECLARE_MESSAGE_MAP overrides it.
    virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // A handler that wants the default processing after all says so here
    // (the base classes' handlers do that: CDialog::OnPaint() and the like).
    void SetMsgHandled(bool handled) { m_msgHandled = handled; }
    bool IsMsgHandled() const { return m_msgHandled; }

private:
    bool m_msgHandled = false;
};

#define DECLARE_MESSAGE_MAP() \
protected:                    \
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                       \
    bool theClass::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) \
    {                                                                                                \
        using TheBaseClass = baseClass;

#define END_MESSAGE_MAP()                                                           \
        return TheBaseClass::ProcessWindowMessage(message, wParam, lParam, result); \
    }

// Runs one handler call; the message is taken unless the handler asked for the
// default processing.
#define VARNOCK_MSG_HANDLER(call) \
    {                             \
        SetMsgHandled(true);      \
        call;                     \
        return IsMsgHandled();    \
    }

// void OnSysCommand(UINT id, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                   \
    if (message == WM_SYSCOMMAND) {                                          \
        result = 0;                                                          \
        VARNOCK_MSG_HANDLER(OnSysCommand(static_cast<UINT>(wParam), lParam)) \
    }

// void OnPaint()
#define ON_WM_PAINT()                  \
    if (message == WM_PAINT) {         \
        result = 0;                    \
        VARNOCK_MSG_HANDLER(OnPaint()) \
    }

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                      \
    if (message == WM_QUERYDRAGICON) {                                             \
        VARNOCK_MSG_HANDLER(result = reinterpret_cast<LRESULT>(OnQueryDragIcon())) \
    }

// BOOL OnHelpInfo(HELPINFO* info)
#define ON_WM_HELPINFO()                                                              \
    if (message == WM_HELP) {                                                         \
        VARNOCK_MSG_HANDLER(result = OnHelpInfo(reinterpret_cast<HELPINFO*>(lParam))) \
    }

// void memberFn(): a menu item, an accelerator or a button's click.
#define ON_COMMAND(id, memberFn)                                                                   \
    if (message == WM_COMMAND && LOWORD(wParam) == (id) && (HIWORD(wParam) == 0 || lParam == 0)) { \
        result = 0;                                                                                \
        VARNOCK_MSG_HANDLER(memberFn())                                                            \
    }

// void memberFn(): the click of button `id`.
#define ON_BN_CLICKED(id, memberFn)                                                        \
    if (message == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == BN_CLICKED) { \
        result = 0;                                                                        \
        VARNOCK_MSG_HANDLER(memberFn())                                                    \
    }
