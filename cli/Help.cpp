// The help, made from the tables: the commands and options (Options.cpp)
// and the exit codes (ExitCodes.h).
#include <cwchar>

#include "cli/ExitCodes.h"
#include "cli/OptionTable.h"
#include "cli/Report.h"

namespace {

// Narrower than a console, whose last column would wrap an empty line in.
constexpr size_t kWidth = 79;
// Where a command's or an option's help begins.
constexpr size_t kHelpColumn = 20;

void Spaces(CWideString& out, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        out.Append(L' ');
}

// Appends `text` and ends the line, the current one at `column`: wrapped at
// spaces outside [brackets], each further line from `indent`.
void Wrapped(CWideString& out, size_t column, size_t indent, const wchar_t* text)
{
    bool first = true;  // on this line
    while (*text != L'\0') {
        const wchar_t* end = text;
        for (int depth = 0; *end != L'\0' && (*end != L' ' || depth > 0); ++end)
            depth += *end == L'[' ? 1 : *end == L']' ? -1 : 0;
        const size_t length = static_cast<size_t>(end - text);
        if (!first && column + 1 + length > kWidth) {
            out.Append(L"\r\n");
            Spaces(out, indent);
            column = indent;
            first = true;
        }
        if (!first) {
            out.Append(L' ');
            ++column;
        }
        out.Append(text, length);
        column += length;
        first = false;
        text = *end != L'\0' ? end + 1 : end;
    }
    out.Append(L"\r\n");
}

// "  term  help", the help from `helpColumn` on; on a line of its own below
// a term too long for that.
void Entry(CWideString& out, size_t indent, const CWideString& term, size_t termIndent, size_t helpColumn,
           const CWideString& help)
{
    Spaces(out, indent);
    if (indent + term.GetLength() + 1 <= helpColumn) {
        out.Append(term);
        Spaces(out, helpColumn - indent - term.GetLength());
    } else {
        Wrapped(out, indent, termIndent, term.GetString());
        Spaces(out, helpColumn);
    }
    Wrapped(out, helpColumn, helpColumn, help.GetString());
}

// "provision LEDGER [--pool FIRST-LAST] ...".
CWideString Usage(const CommandRow& command)
{
    CWideString usage(command.name, std::wcslen(command.name));
    for (size_t i = 0; i < kOptionCount; ++i) {
        const OptionRow& row = kOptions[i];
        if (!SameName(row.command, command.name))
            continue;
        if (IsOperand(row))
            usage.Append(Words(L" ", row.name));
        else if (row.takes == Takes::Nothing)
            usage.Append(Words(L" [", row.name, L"]"));
        else
            usage.Append(Words(L" [", row.name, L" ", row.value, L"]"));
    }
    return usage;
}

}  // namespace

CWideString HelpText()
{
    CWideString help = Words(L"Usage: varnock-cli COMMAND\r\n\r\n");
    Wrapped(help, 0, 0,
            L"Reads the device information of the USB-to-CAN adapter (the first one, through Qelvo_CAN.dll beside "
            L"this program) and sets the last two characters of its serial number, with the same rules as "
            L"Varnock.exe.");
    help.Append(L"\r\nCommands:\r\n");
    for (size_t c = 0; c < kCommandCount; ++c) {
        const CommandRow& command = kCommands[c];
        Entry(help, 2, Usage(command), 3 + std::wcslen(command.name), kHelpColumn,
              CWideString(command.help, std::wcslen(command.help)));
        for (size_t i = 0; i < kOptionCount; ++i) {
            const OptionRow& row = kOptions[i];
            if (!SameName(row.command, command.name))
                continue;
            const CWideString term = IsOperand(row) || row.takes == Takes::Nothing ? Words(row.name)
                                                                                 : Words(row.name, L" ", row.value);
            CWideString text(row.help, std::wcslen(row.help));
            if (row.takes == Takes::Path)
                text.Append(Words(L" Up to ", Decimal(kLongestPath), L" characters."));
            Entry(help, 4, term, 4, kHelpColumn, text);
        }
    }
    Entry(help, 2, Words(L"--help, -h, /?"), 2, kHelpColumn, Words(L"Prints this text."));
    Entry(help, 2, Words(L"--version"), 2, kHelpColumn, Words(L"Prints the version."));
    help.Append(L"\r\n");
    Wrapped(help, 0, 0,
            L"On a console, Chinese shows whatever the code page. Redirected to a file or a pipe, the output is "
            L"UTF-8 without a byte order mark, lines ending in CR LF. Errors go to stderr: an English line that "
            L"says what was wrong, then Varnock's Chinese message where there is one.");
    help.Append(L"\r\nExit codes:\r\n");
    for (const ExitCodeWords& exit : kExitCodeWords)
        Entry(help, 2, Decimal(static_cast<size_t>(exit.code)), 2, 5, Words(Ascii(exit.words), Ascii(exit.more)));
    help.Append(L"Nothing is written to the adapter on any code but 0, 1, 6, 7, 13, 14 and 15.\r\n");
    return help;
}
