#include "cli/Printer.h"

#include <windows.h>
#include <winspool.h>

#include <cstdlib>
#include <cwchar>
#include <new>

#include "cli/DeviceName.h"
#include "cli/Library.h"
#include "cli/PrinterTargets.h"

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

const wchar_t* Find(const wchar_t* text, wchar_t c)
{
    for (; *text != L'\0'; ++text)
        if (*text == c)
            return text;
    return nullptr;
}

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

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

bool ValidTarget(const wchar_t* target)
{
    CWideString host, port;
    const PrinterKind kind = KindOfPrinter(target);
    if (kind == PrinterKind::Network)
        return NetworkTarget(target, host, port);
    // A label sent to NUL would count as printed.
    return kind != PrinterKind::Path || !DeviceName(target, false);
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
