#include "cli/Printer.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winspool.h>

#include <cstdlib>
#include <cwchar>
#include <new>

#include "cli/Library.h"

namespace {

// The network's own limits, inside the whole label's.
constexpr unsigned kConnectSeconds = 10;
constexpr unsigned kSendSeconds = 10;
// After the last byte: a printer that resets the connection now refused the
// label. One that keeps it open says nothing more, and that is success.
constexpr unsigned kCloseMilliseconds = 1000;

// A DLL of Windows' own, from the system folder and nowhere else.
HMODULE SystemLibrary(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH)
        return nullptr;
    path[length] = L'\\';
    for (size_t i = 0;; ++i)
        if ((path[length + 1 + i] = name[i]) == L'\0')
            break;
    return LoadLibraryW(path);
}

// The first `c` in `text`, or nullptr (what wcschr does, without importing it).
const wchar_t* Find(const wchar_t* text, wchar_t c)
{
    for (; *text != L'\0'; ++text)
        if (*text == c)
            return text;
    return nullptr;
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// tcp:HOST[:PORT], with HOST in brackets when it is an IPv6 address.
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
        if (*c <= L' ' || IsSeparator(*c) || *c == L'[' || *c == L']' || (*target != L'[' && *c == L':'))
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

struct Job {
    PrinterKind kind;
    CWideString target;
    CString label;
    CWideString document;
    CWideString why;
    bool sent = false;
};

// The label into a file, or a shared printer, which takes raw bytes the same way.
bool ToPath(Job& job)
{
    const HANDLE file = CreateFileW(job.target.GetString(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        job.why = Words(L"cannot open ", Quoted(job.target.GetString()), L": ", WindowsError(GetLastError()));
        return false;
    }
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(job.label.GetLength());
    const bool wrote = WriteFile(file, job.label.GetString(), length, &written, nullptr) && written == length;
    const DWORD error = wrote ? 0 : GetLastError();
    const bool closed = CloseHandle(file) != 0;
    if (!wrote || !closed) {
        job.why = Words(L"cannot write to ", Quoted(job.target.GetString()), L": ",
                        WindowsError(wrote ? GetLastError() : error));
        return false;
    }
    return true;
}

// The label as a RAW document through the spooler, which hands it to the
// printer's port untouched.
bool ToSpooler(Job& job)
{
    decltype(&::OpenPrinterW) openPrinter = nullptr;
    decltype(&::StartDocPrinterW) startDoc = nullptr;
    decltype(&::StartPagePrinter) startPage = nullptr;
    decltype(&::WritePrinter) writePrinter = nullptr;
    decltype(&::EndPagePrinter) endPage = nullptr;
    decltype(&::EndDocPrinter) endDoc = nullptr;
    decltype(&::ClosePrinter) closePrinter = nullptr;
    const HMODULE spooler = SystemLibrary(L"winspool.drv");
    if (spooler == nullptr || !Bind(spooler, "OpenPrinterW", openPrinter) ||
        !Bind(spooler, "StartDocPrinterW", startDoc) || !Bind(spooler, "StartPagePrinter", startPage) ||
        !Bind(spooler, "WritePrinter", writePrinter) || !Bind(spooler, "EndPagePrinter", endPage) ||
        !Bind(spooler, "EndDocPrinter", endDoc) || !Bind(spooler, "ClosePrinter", closePrinter)) {
        job.why = Words(L"Windows' spooler (winspool.drv) could not be loaded");
        return false;
    }
    HANDLE printer = nullptr;
    if (!openPrinter(const_cast<wchar_t*>(job.target.GetString()), &printer, nullptr)) {
        const DWORD error = GetLastError();
        job.why = Words(L"no printer ", Quoted(job.target.GetString()), L" could be opened: ", WindowsError(error),
                        L". Settings, Printers lists the printers' names; a file or a shared printer is given "
                        L"with its folder (.\\label.zpl, \\\\host\\share), a networked one as tcp:HOST");
        return false;
    }
    DOC_INFO_1W doc = {const_cast<wchar_t*>(job.document.GetString()), nullptr, const_cast<wchar_t*>(L"RAW")};
    const wchar_t* failed = nullptr;
    DWORD error = 0;
    if (startDoc(printer, 1, reinterpret_cast<BYTE*>(&doc)) == 0) {
        failed = L"refused a RAW document";
        error = GetLastError();
    } else {
        const bool page = startPage(printer) != 0;
        DWORD written = 0;
        const DWORD length = static_cast<DWORD>(job.label.GetLength());
        const bool wrote = page && writePrinter(printer, const_cast<char*>(job.label.GetString()), length, &written) &&
                           written == length;
        if (!wrote) {
            failed = page ? L"did not take the label's bytes" : L"could not start a page";
            error = GetLastError();
        }
        if (page && !endPage(printer) && failed == nullptr) {
            failed = L"could not end the page";
            error = GetLastError();
        }
        // The spooler may hand the document to the port only now, and say
        // only now that it could not.
        if (!endDoc(printer) && failed == nullptr) {
            failed = L"could not end the document, so it did not reach the printer's port";
            error = GetLastError();
        }
    }
    closePrinter(printer);
    if (failed != nullptr) {
        job.why = Words(L"the printer ", Quoted(job.target.GetString()), L" ", failed, L": ", WindowsError(error));
        return false;
    }
    return true;
}

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
    why = Words(L"could not connect to ", where, L": ", WindowsError(static_cast<unsigned long>(error)));
    return INVALID_SOCKET;
}

// The label, raw, to a networked printer's port.
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
        job.why = Words(L"the label did not reach ", where, L": ", WindowsError(static_cast<unsigned long>(error)));
        return false;
    }
    return true;
}

void Discard(Job* job)
{
    job->~Job();
    std::free(job);
}

DWORD WINAPI Send(void* parameter)
{
    Job& job = *static_cast<Job*>(parameter);
    job.sent = job.kind == PrinterKind::Network ? ToNetwork(job)
               : job.kind == PrinterKind::Path  ? ToPath(job)
                                                 : ToSpooler(job);
    return 0;
}

// A file on this computer's own disks: written at once, for a thread costs
// more than the write. Anything on a network, or a device, may hang.
bool OnLocalDisk(const wchar_t* path)
{
    if (IsSeparator(path[0]) && IsSeparator(path[1]))
        return false;  // \\host\share, and \\?\ or \\.\ forms
    if (path[0] != L'\0' && path[1] == L':') {
        const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
        return GetDriveTypeW(root) == DRIVE_FIXED;
    }
    return GetDriveTypeW(nullptr) == DRIVE_FIXED;  // the current folder's drive
}

}  // namespace

PrinterKind KindOfPrinter(const wchar_t* target)
{
    if ((target[0] | 0x20) == L't' && (target[1] | 0x20) == L'c' && (target[2] | 0x20) == L'p' && target[3] == L':')
        return PrinterKind::Network;
    for (const wchar_t* c = target; *c != L'\0'; ++c)
        if (IsSeparator(*c))
            return PrinterKind::Path;
    return PrinterKind::Spooler;
}

bool ValidNetworkTarget(const wchar_t* target)
{
    CWideString host, port;
    return KindOfPrinter(target) != PrinterKind::Network || NetworkTarget(target, host, port);
}

bool SendLabel(const wchar_t* target, const CString& label, const CWideString& document, CWideString& why)
{
    // On a thread of its own, so that no target can hold the run longer than
    // kLabelSeconds: a spooler or a network that hangs is left to it.
    // malloc and a placement new, not new: the C++ library's operator new
    // would bring its exceptions, and double the program's size.
    void* room = std::malloc(sizeof(Job));
    if (room == nullptr)
        std::abort();
    Job* job = ::new (room) Job{KindOfPrinter(target), CWideString(target, std::wcslen(target)), label, document, {}, false};
    if (job->kind == PrinterKind::Path && OnLocalDisk(target)) {
        Send(job);
        why = job->why;
        const bool sent = job->sent;
        Discard(job);
        return sent;
    }
    const HANDLE thread = CreateThread(nullptr, 0, Send, job, 0, nullptr);
    if (thread == nullptr) {
        why = Words(L"no thread could be started to send it: ", WindowsError(GetLastError()));
        Discard(job);
        return false;
    }
    const DWORD waited = WaitForSingleObject(thread, kLabelSeconds * 1000);
    CloseHandle(thread);
    if (waited != WAIT_OBJECT_0) {
        // The thread may still use the job: it is left to it.
        why = Words(L"it was not taken in ", Decimal(kLabelSeconds), L" s; it may print all the same");
        return false;
    }
    const bool sent = job->sent;
    why = job->why;
    Discard(job);
    return sent;
}
