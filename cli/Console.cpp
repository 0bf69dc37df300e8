#include "cli/Console.h"

#include <windows.h>

#include "text/TextConversion.h"

namespace {

bool WriteToConsole(HANDLE console, const wchar_t* text, size_t length)
{
    while (length > 0) {
        // Old consoles refuse very large writes; a chunk at a time.
        const DWORD chunk = length > 8192 ? 8192 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteConsoleW(console, text, chunk, &written, nullptr) || written == 0)
            return false;
        text += written;
        length -= written;
    }
    return true;
}

bool WriteToFile(HANDLE file, const CWideString& text)
{
    const CString bytes = WideToUtf8(text);
    if (bytes.IsEmpty())
        return false;
    // A pipe may take less than it is given.
    const auto length = static_cast<DWORD>(bytes.GetLength());
    bool ok = true;
    for (DWORD done = 0; ok && done < length;) {
        DWORD written = 0;
        ok = WriteFile(file, bytes.GetString() + done, length - done, &written, nullptr) && written > 0;
        done += written;
    }
    return ok;
}

}  // namespace

bool WriteText(Stream stream, const CWideString& text)
{
    HANDLE handle = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    if (text.IsEmpty())
        return true;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode))
        return WriteToConsole(handle, text.GetString(), text.GetLength());
    return WriteToFile(handle, text);
}

void WriteVerdict(bool passed, const CWideString& line)
{
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console == nullptr || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return;
    CONSOLE_SCREEN_BUFFER_INFO before{};
    const bool coloured = GetConsoleScreenBufferInfo(console, &before) != 0;
    if (coloured)
        SetConsoleTextAttribute(console, static_cast<WORD>((before.wAttributes & 0xF0) | FOREGROUND_INTENSITY |
                                                           (passed ? FOREGROUND_GREEN : FOREGROUND_RED)));
    WriteToConsole(console, line.GetString(), line.GetLength());
    if (coloured)
        SetConsoleTextAttribute(console, before.wAttributes);
    WriteToConsole(console, L"\r\n", 2);
}
