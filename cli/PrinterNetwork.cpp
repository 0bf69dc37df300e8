// The label raw to a networked label printer's port, through Windows' own
// network library, loaded when a label goes out.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cwchar>

#include "cli/Library.h"
#include "cli/PrinterTargets.h"

namespace {

// The network's own limits, inside the whole label's.
constexpr unsigned kConnectSeconds = 10;
constexpr unsigned kSendSeconds = 10;
// After the last byte: a printer that resets the connection now refused the
// label. One that keeps it open says nothing more, and that is success.
constexpr unsigned kCloseMilliseconds = 1000;

// The network's functions, bound from ws2_32.dll.
struct Winsock {
    decltype(&::WSAStartup) startup;
    decltype(&::WSACleanup) cleanup;
    decltype(&::WSAGetLastError) lastError;
    decltype(&::GetAddrInfoW) resolve;
    decltype(&::FreeAddrInfoW) freeResolved;
    decltype(&::socket) open;
    decltype(&::ioctlsocket) control;
    decltype(&::connect) connect;
    decltype(&::select) select;
    decltype(&::getsockopt) getOption;
    decltype(&::setsockopt) setOption;
    decltype(&::send) send;
    decltype(&::recv) receive;
    decltype(&::shutdown) shutdown;
    decltype(&::closesocket) close;

    bool Bound(HMODULE module)
    {
        return module != nullptr && Bind(module, "WSAStartup", startup) && Bind(module, "WSACleanup", cleanup) &&
               Bind(module, "WSAGetLastError", lastError) && Bind(module, "GetAddrInfoW", resolve) &&
               Bind(module, "FreeAddrInfoW", freeResolved) && Bind(module, "socket", open) &&
               Bind(module, "ioctlsocket", control) && Bind(module, "connect", connect) &&
               Bind(module, "select", select) && Bind(module, "getsockopt", getOption) &&
               Bind(module, "setsockopt", setOption) && Bind(module, "send", send) && Bind(module, "recv", receive) &&
               Bind(module, "shutdown", shutdown) && Bind(module, "closesocket", close);
    }
};

// Whether `socket` becomes ready, for writing or reading, within `milliseconds`.
int Ready(const Winsock& ws, SOCKET socket, bool write, unsigned milliseconds)
{
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000 * 1000)};
    return ws.select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
}

// Connected to one of the host's addresses within kConnectSeconds, or
// INVALID_SOCKET with `why`.
SOCKET Connected(const Winsock& ws, const ADDRINFOW* addresses, const CWideString& where, CWideString& why)
{
    int error = 0;
    for (const ADDRINFOW* a = addresses; a != nullptr; a = a->ai_next) {
        const SOCKET socket = ws.open(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (socket == INVALID_SOCKET) {
            error = ws.lastError();
            continue;
        }
        u_long mode = 1;  // not blocking, so that the wait for a connection is ours
        bool connected = false;
        if (ws.control(socket, FIONBIO, &mode) != 0) {
            error = ws.lastError();
        } else if (ws.connect(socket, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            connected = true;
        } else if ((error = ws.lastError()) == WSAEWOULDBLOCK) {
            const int ready = Ready(ws, socket, true, kConnectSeconds * 1000);
            int status = 0, size = sizeof status;
            if (ready == 0)
                error = WSAETIMEDOUT;
            else if (ready < 0 ||
                     ws.getOption(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &size) != 0)
                error = ws.lastError();
            else if (status != 0)
                error = status;
            else
                connected = true;
        }
        mode = 0;
        if (connected && ws.control(socket, FIONBIO, &mode) == 0)
            return socket;
        if (connected)
            error = ws.lastError();
        ws.close(socket);
    }
    why = error == WSAETIMEDOUT
              ? Words(L"no answer from ", where, L" in ", Decimal(kConnectSeconds), L" s")
              : Words(L"could not connect to ", where, L": ", WindowsError(static_cast<unsigned long>(error)));
    return INVALID_SOCKET;
}

}  // namespace

bool NetworkTarget(const wchar_t* target, CWideString& host, CWideString& port)
{
    const wchar_t* rest = target + 4;
    const wchar_t* hostEnd = nullptr;
    const wchar_t* portAt = nullptr;
    if (*rest == L'[') {
        ++rest;
        hostEnd = Find(rest, L']');
        if (hostEnd == nullptr || (hostEnd[1] != L'\0' && hostEnd[1] != L':'))
            return false;
        portAt = hostEnd[1] == L':' ? hostEnd + 2 : nullptr;
    } else {
        const wchar_t* colon = Find(rest, L':');
        hostEnd = colon != nullptr ? colon : rest + std::wcslen(rest);
        portAt = colon != nullptr ? colon + 1 : nullptr;
    }
    if (hostEnd == rest)
        return false;
    host = CWideString(rest, static_cast<size_t>(hostEnd - rest));
    for (const wchar_t* c = rest; c != hostEnd; ++c)
        if (*c <= L' ' || *c == L'\\' || *c == L'/' || *c == L'[' || *c == L']')
            return false;
    unsigned number = 0;
    if (portAt != nullptr) {
        if (*portAt == L'\0')
            return false;
        for (const wchar_t* c = portAt; *c != L'\0'; ++c) {
            if (*c < L'0' || *c > L'9' || (number = number * 10 + static_cast<unsigned>(*c - L'0')) > 65535)
                return false;
        }
        if (number == 0)
            return false;
    }
    port = portAt != nullptr ? CWideString(portAt, std::wcslen(portAt)) : CWideString(L"9100", 4);
    return true;
}

bool ToNetwork(Job& job)
{
    CWideString host, port;
    if (!NetworkTarget(job.target.GetString(), host, port)) {
        job.why = Words(Quoted(job.target.GetString()), L" is not tcp:HOST or tcp:HOST:PORT");
        return false;
    }
    const CWideString where = Words(host, L" port ", port);
    Winsock ws{};
    WSADATA data;
    if (!ws.Bound(SystemLibrary(L"ws2_32.dll")) || ws.startup(MAKEWORD(2, 2), &data) != 0) {
        job.why = Words(L"Windows' network library (ws2_32.dll) could not be started");
        return false;
    }
    ADDRINFOW hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* addresses = nullptr;
    const int resolved = ws.resolve(host.GetString(), port.GetString(), &hints, &addresses);
    if (resolved != 0) {
        job.why = Words(L"the printer's host ", Quoted(host.GetString()), L" was not found: ",
                        WindowsError(static_cast<unsigned long>(resolved)));
        ws.cleanup();
        return false;
    }
    const SOCKET socket = Connected(ws, addresses, where, job.why);
    ws.freeResolved(addresses);
    if (socket == INVALID_SOCKET) {
        ws.cleanup();
        return false;
    }
    const DWORD sendLimit = kSendSeconds * 1000;
    ws.setOption(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit), sizeof sendLimit);
    const char* bytes = job.label.GetString();
    int left = job.label.GetLength();
    bool sent = true;
    while (left > 0 && sent) {
        const int now = ws.send(socket, bytes, left, 0);
        sent = now > 0;
        bytes += sent ? now : 0;
        left -= sent ? now : 0;
    }
    int error = sent ? 0 : ws.lastError();
    if (sent && ws.shutdown(socket, SD_SEND) != 0) {
        sent = false;
        error = ws.lastError();
    }
    if (sent && Ready(ws, socket, false, kCloseMilliseconds) > 0) {
        char answer[64];
        if (ws.receive(socket, answer, sizeof answer, 0) < 0) {
            sent = false;
            error = ws.lastError();
        }
    }
    ws.close(socket);
    ws.cleanup();
    if (!sent) {
        job.why = error == WSAETIMEDOUT
                      ? Words(L"the label did not reach ", where, L": it took nothing for ", Decimal(kSendSeconds),
                              L" s")
                      : Words(L"the label did not reach ", where, L": ",
                              WindowsError(static_cast<unsigned long>(error)));
        return false;
    }
    return true;
}
