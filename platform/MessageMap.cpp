#include "platform/MessageMap.h"

bool CCmdTarget::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    // A handler may run a modal loop that dispatches other messages to this
    // same object; each dispatch keeps its own handled flag.
    const bool outer = m_msgHandled;
    const bool handled = ProcessWindowMessage(message, wParam, lParam, result);
    m_msgHandled = outer;
    return handled;
}

bool CCmdTarget::ProcessWindowMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*result*/)
{
    return false;
}
