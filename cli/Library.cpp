#include "cli/Library.h"

#include <windows.h>

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

template <class Function>
bool Bind(HMODULE module, WORD number, Function& function)
{
    const FARPROC address = GetProcAddress(module, MAKEINTRESOURCEA(number));
    // Through void(*)(): the one cast between function types GCC lets pass.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

}  // namespace

bool LoadDeviceLibrary(DeviceLibrary& library, Failure& failure)
{
    failure.code = kLibraryMissing;
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
        else if (error == ERROR_BAD_EXE_FORMAT)
            failure.what = Words(path, L" is not a ", kOurWidth, L" library, as this varnock-cli.exe is: take "
                                 L"varnock-cli.exe from the ", kOtherZip, L" zip");
        else
            failure.what = Words(path, L" could not be loaded (Windows error ", Decimal(error),
                                 L"; 126: a library it needs is missing): reinstall the adapter's software");
        return false;
    }
    if (!Bind(module, 1, library.DeviceOpen) || !Bind(module, 6, library.DeviceInfoRead) ||
        !Bind(module, 5, library.DeviceInfoWrite)) {
        failure.what = Words(path, L" lacks export 1, 5 or 6, so it is not the adapter's library: put the "
                             L"vendor's Qelvo_CAN.dll there");
        FreeLibrary(module);
        return false;
    }
    return true;
}
