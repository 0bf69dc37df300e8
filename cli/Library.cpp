#include "cli/Library.h"

#include <windows.h>

#include <csignal>

#include "cli/ExitCodes.h"

namespace {

const wchar_t kLibraryName[] = L"Qelvo_CAN.dll";

#ifdef _WIN64
const wchar_t kOurWidth[] = L"64-bit", kOtherZip[] = L"win32";
#else
const wchar_t kOurWidth[] = L"32-bit", kOtherZip[] = L"win64";
#endif

// This program's folder, with its final backslash.
bool OwnFolder(CWideString& folder)
{
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        wchar_t* buffer = folder.GetBuffer(size);
        const DWORD length = GetModuleFileNameW(nullptr, buffer, size);
        if (length == 0)
            return false;
        if (length < size) {
            size_t end = length;
            while (end > 0 && buffer[end - 1] != L'\\' && buffer[end - 1] != L'/')
                --end;
            folder.Truncate(end);
            return end > 0;
        }
    }
    return false;
}

// The machine a program file is built for, from its PE header: 0x14C i386,
// 0x8664 x86-64; 0 when the file is not a program at all.
WORD MachineOf(const wchar_t* path)
{
    const HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    unsigned char head[1024];
    DWORD got = 0;
    const bool read = ReadFile(file, head, sizeof head, &got, nullptr) != 0;
    CloseHandle(file);
    if (!read || got < 0x40 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    const DWORD pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | static_cast<DWORD>(head[0x3F]) << 24;
    if (pe > got - 6 || head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0)
        return 0;
    return static_cast<WORD>(head[pe + 4] | head[pe + 5] << 8);
}

}  // namespace

bool LoadDeviceLibrary(DeviceLibrary& library, Failure& failure)
{
    failure.code = kLibraryMissing;
    failure.message = CString();  // no window message says this
    CWideString path;
    if (!OwnFolder(path)) {
        failure.what = Words(L"cannot tell which folder varnock-cli.exe is in, so ", kLibraryName,
                             L" cannot be loaded from it");
        return false;
    }
    path.Append(kLibraryName);

    // The search path is not used: a full path, and the library's own
    // folder for what it needs in turn.
    const HMODULE module = LoadLibraryExW(path.GetString(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        if (GetFileAttributesW(path.GetString()) == INVALID_FILE_ATTRIBUTES)
            failure.what = Words(kLibraryName, L" is not beside varnock-cli.exe (", path,
                                 L"): put this program into the folder of the adapter's library, or into "
                                 L"virtual-adapter\\ to try it without hardware");
        else if (error == ERROR_BAD_EXE_FORMAT && MachineOf(path.GetString()) != 0)
            failure.what = Words(path, L" is not a ", kOurWidth, L" library, as this varnock-cli.exe is: take "
                                 L"varnock-cli.exe from the ", kOtherZip, L" zip");
        else if (error == ERROR_BAD_EXE_FORMAT)
            failure.what = Words(path, L" is not a library at all (damaged, or another file under its name): put "
                                 L"the vendor's Qelvo_CAN.dll there");
        else
            failure.what = Words(path, L" could not be loaded (Windows error ", Decimal(error),
                                 L"; 126: a library it needs is missing): reinstall the adapter's software");
        return false;
    }
    // A library built with another C runtime aborts through that runtime's
    // signal table, whose exit code (3) would claim the adapter was never
    // opened: it is told to end as ours does.
    for (const wchar_t* runtime : {L"ucrtbase.dll", L"msvcr120.dll", L"msvcr110.dll", L"msvcr100.dll",
                                   L"msvcr90.dll", L"msvcr80.dll", L"msvcr71.dll"}) {
        using SignalFn = void(__cdecl*)(int, void(__cdecl*)(int));
        const HMODULE loaded = GetModuleHandleW(runtime);
        SignalFn signal = nullptr;
        if (loaded != nullptr && Bind(loaded, "signal", signal))
            signal(SIGABRT, AbnormalEnd);
    }
    if (!Bind(module, MAKEINTRESOURCEA(1), library.DeviceOpen) ||
        !Bind(module, MAKEINTRESOURCEA(6), library.DeviceInfoRead) ||
        !Bind(module, MAKEINTRESOURCEA(5), library.DeviceInfoWrite)) {
        failure.what = Words(path, L" lacks export 1, 5 or 6, so it is not the adapter's library: put the "
                             L"vendor's Qelvo_CAN.dll there");
        FreeLibrary(module);
        return false;
    }
    return true;
}
