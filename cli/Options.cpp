#include "cli/Options.h"

#include <cwchar>

#include "VarnockCliVersion.h"
#include "cli/Commands.h"
#include "cli/OptionTable.h"
#include "cli/Printer.h"
#include "cli/Report.h"

namespace {

// The values' forms that the table checks as it reads them.
bool ValidWait(const wchar_t* value)
{
    unsigned seconds;
    return WaitSeconds(value, seconds);
}
bool ValidLine(const wchar_t* value)
{
    size_t line;
    return LineNumber(value, line);
}
const wchar_t kWaitWanted[] = L"a number of seconds from 0 to 600";
const wchar_t kTargetWanted[] =
    L"a printer's name, a path (not to NUL or CON), or tcp:HOST[:PORT] with a port from 1 to 65535";

}  // namespace

const CommandRow kCommands[] = {
    {L"read", false, ReadCommand,
     L"Prints the record's fields, one \"name: value\" line each: hardware, firmware, reserved, channels, serial "
     L"(the first six characters of the serial number), suffix (the last two), product."},
    {L"write-suffix", true, WriteSuffixCommand,
     L"Sets the serial number's last two characters to XY. Reads the record first, changes only those two bytes, "
     L"writes it, reads it back and compares. Prints old-serial and new-serial."},
    {L"provision", false, ProvisionCommand,
     L"Gives the adapter a serial that LEDGER has never given out, reserved nor seen, then writes it as "
     L"write-suffix does and records it. After a failed or cut-short run, run it again: an adapter that holds "
     L"what that run meant to write is recorded as provisioned, with nothing written (it settles it). The ledger "
     L"is locked only while it is read and written. Prints old-serial, new-serial and ledger-line, and "
     L"settles-line when it settled an earlier run, labelled-line when it printed a label; on a console, a last "
     L"PASSED or FAILED line."},
    {L"label", false, LabelCommand,
     L"Prints again the label of the serial that LEDGER's provisioned row at line N gave out, with nothing sent "
     L"to the adapter: for a jammed printer or a lost label. Records a labelled row. Prints serial, ledger-line "
     L"and labelled-line."},
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

const OptionRow kOptions[] = {
    {L"read", L"--json", Takes::Nothing, nullptr, nullptr,
     L"One JSON object on one line instead, plus \"record\": the 52 bytes as 104 lowercase hex digits. ASCII "
     L"only."},
    {L"write-suffix", L"XY", Takes::Text, L"suffix", L"AB",
     L"Exactly two bytes in code page 936, so one Chinese character or two single-byte ones, no control "
     L"character, taken as typed (also when XY begins with -)."},
    {L"write-suffix", L"--json", Takes::Nothing, nullptr, nullptr,
     L"One JSON object instead: result, old_serial, new_serial."},
    {L"provision", L"LEDGER", Takes::Path, L"ledger", L"\\\\server\\line3\\adapters.csv",
     L"A CSV file, which stations may share in a network folder."},
    {L"provision", L"--pool", Takes::Text, L"FIRST-LAST", L"01-99",
     L"The suffix is the first free one of the pool (default 01-99; two characters 0-9 A-Z each end, AY-B1 is "
     L"AY AZ B0 B1)."},
    {L"provision", L"--suffix", Takes::Text, L"XY", L"AB",
     L"The suffix is XY, not one of a pool (so not with --pool)."},
    {L"provision", L"--new", Takes::Nothing, nullptr, nullptr,
     L"Starts LEDGER, which must not exist yet; without it a missing ledger is an error."},
    {L"provision", L"--again", Takes::Nothing, nullptr, nullptr,
     L"Gives a serial to an adapter whose record is byte for byte one provisioned before (a twin)."},
    {L"provision", L"--json", Takes::Nothing, nullptr, nullptr,
     L"One JSON object instead: result, old_serial, new_serial, ledger_line, settles_line."},
    {L"provision", L"--wait", Takes::Text, L"SECONDS", L"60",
     L"How long to wait for another station's lock on the ledger (default 30, at most 600).",
     ValidWait, kWaitWanted},
    {L"provision", L"--label", Takes::Path, L"TEMPLATE", L"labels\\adapter-label.zpl",
     L"After a verified write, or a settled run (exit 0), fills this ZPL template with the adapter's values and "
     L"prints it to --printer; records a labelled row. Placeholders: ${serial} ${old_serial} ${hardware} "
     L"${firmware} ${reserved} ${channels} ${product} ${time} ${station} ${ledger_line}, and $$ for $."},
    {L"provision", L"--printer", Takes::Path, L"TARGET", L"tcp:192.168.1.40",
     L"Where the label goes: a printer's name (through the spooler, as a RAW document); a path with its folder "
     L"(a file, to preview the label, or a shared printer such as \\\\host\\labels); or tcp:HOST[:PORT], a "
     L"networked printer (port 9100 by default).",
     ValidTarget, kTargetWanted},
    {L"label", L"LEDGER", Takes::Path, L"ledger", L"\\\\server\\line3\\adapters.csv",
     L"The ledger the adapter was provisioned in."},
    {L"label", L"--line", Takes::Text, L"N", L"12",
     L"The line of the provisioned row, as provision printed it (ledger-line).",
     ValidLine, L"a line number from 1"},
    {L"label", L"--label", Takes::Path, L"TEMPLATE", L"labels\\adapter-label.zpl", L"The ZPL template, as for provision."},
    {L"label", L"--printer", Takes::Path, L"TARGET", L"tcp:192.168.1.40", L"Where the label goes, as for provision.",
     ValidTarget, kTargetWanted},
    {L"label", L"--json", Takes::Nothing, nullptr, nullptr,
     L"One JSON object instead: result, serial, ledger_line, labelled_line."},
    {L"label", L"--wait", Takes::Text, L"SECONDS", L"60", L"How long to wait for the ledger's lock, as for provision.",
     ValidWait, kWaitWanted},
};
const size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];
static_assert(sizeof kOptions / sizeof kOptions[0] <= Arguments::kMost, "Arguments keeps every option");

bool SameText(const wchar_t* typed, const wchar_t* name)
{
    for (;; ++typed, ++name) {
        const wchar_t lower = *typed >= L'A' && *typed <= L'Z' ? static_cast<wchar_t>(*typed - L'A' + L'a') : *typed;
        if (lower != *name)
            return false;
        if (*name == L'\0')
            return true;
    }
}

namespace {

const CommandRow* CommandNamed(const wchar_t* name)
{
    for (size_t i = 0; i < kCommandCount; ++i)
        if (SameText(name, kCommands[i].name))
            return &kCommands[i];
    return nullptr;
}

// The command's option called `name`, or its operand's row (name nullptr).
const OptionRow* OptionOf(const wchar_t* command, const wchar_t* name)
{
    for (size_t i = 0; i < kOptionCount; ++i)
        if (SameName(kOptions[i].command, command) &&
            (name == nullptr ? IsOperand(kOptions[i]) : !IsOperand(kOptions[i]) && SameText(name, kOptions[i].name)))
            return &kOptions[i];
    return nullptr;
}

// "a, b and c".
void Listed(CWideString& list, const wchar_t*& last, const wchar_t* name)
{
    if (last != nullptr)
        list.Append(Words(list.IsEmpty() ? L"" : L", ", last));
    last = name;
}

CWideString Listed(CWideString list, const wchar_t* last)
{
    if (last != nullptr)
        list.Append(Words(list.IsEmpty() ? L"" : L" and ", last));
    return list;
}

// "--pool, --suffix and --json": what `command` takes.
CWideString OptionList(const wchar_t* command)
{
    CWideString list;
    const wchar_t* last = nullptr;
    for (size_t i = 0; i < kOptionCount; ++i)
        if (SameName(kOptions[i].command, command) && !IsOperand(kOptions[i]))
            Listed(list, last, kOptions[i].name);
    return Listed(list, last);
}

// "read, write-suffix and provision".
CWideString CommandList()
{
    CWideString list;
    const wchar_t* last = nullptr;
    for (size_t i = 0; i < kCommandCount; ++i)
        Listed(list, last, kCommands[i].name);
    return Listed(list, last);
}

// What argument `index` is, for the longest it may be: provision's ledger,
// or another path, may be as long as a path.
Takes KindOf(int argc, wchar_t** argv, int index)
{
    const CommandRow* command = argc > 1 ? CommandNamed(argv[1]) : nullptr;
    if (command == nullptr)
        return Takes::Text;
    const OptionRow* operand = OptionOf(command->name, nullptr);
    for (int i = 2; i < argc; ++i) {
        const OptionRow* option = command->operandFirst && i == 2 ? nullptr : OptionOf(command->name, argv[i]);
        if (option != nullptr && option->takes != Takes::Nothing && ++i == index)
            return option->takes;
        if (option == nullptr && (argv[i][0] != L'-' || command->operandFirst) && operand != nullptr) {
            if (i == index)
                return operand->takes;
            operand = nullptr;  // a second one is an error, and no path
        }
    }
    return Takes::Text;
}

int ParseCommand(int argc, wchar_t** argv, const CommandRow& command, Arguments& arguments);

}  // namespace

int ParseCommandLine(int argc, wchar_t** argv, Arguments& arguments)
{
    // Every argument is looked at before any is acted on.
    for (int i = 1; i < argc; ++i) {
        const size_t length = std::wcslen(argv[i]);
        const size_t longest = KindOf(argc, argv, i) == Takes::Path ? kLongestPath : kLongestArgument;
        if (length == 0)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is empty"));
        if (length > longest)
            return UsageError(Words(L"argument ", Decimal(static_cast<size_t>(i)), L" is ", Decimal(length),
                                    L" characters long; none may be longer than ", Decimal(longest)));
    }
    if (argc < 2)
        return UsageError(Words(L"no command given; the commands are ", CommandList()));

    const wchar_t* name = argv[1];
    const bool help = SameText(name, L"--help") || SameText(name, L"-h") || SameText(name, L"/?");
    if (help || SameText(name, L"--version")) {
        if (argc > 2)
            return UsageError(Words(help ? L"--help" : L"--version", L" takes no argument, but got ", Quoted(argv[2])));
        return Finish(help ? HelpText() : Words(L"varnock-cli ", VARNOCK_CLI_VERSION, L"\r\n"),
                      Words(L"nothing was done"));
    }
    const CommandRow* row = CommandNamed(name);
    if (row == nullptr && (name[0] == L'-' || name[0] == L'/'))
        return UsageError(Words(L"unknown option ", Quoted(name)));
    if (row == nullptr)
        return UsageError(Words(L"unknown command ", Quoted(name), L"; the commands are ", CommandList()));
    arguments.command = row->name;
    arguments.run = row->run;
    return ParseCommand(argc, argv, *row, arguments);
}

namespace {

int ParseCommand(int argc, wchar_t** argv, const CommandRow& command, Arguments& arguments)
{
    const wchar_t* name = command.name;
    const OptionRow* operand = OptionOf(command.name, nullptr);
    for (int i = 2; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        const OptionRow* option = command.operandFirst && i == 2 ? nullptr : OptionOf(command.name, argument);
        if (option != nullptr) {
            const wchar_t* value = argument;
            if (option->takes != Takes::Nothing && i + 1 >= argc) {
                // "varnock-cli provision adapters.csv --pool 01-99": the operand's example without its folders.
                const wchar_t* example = operand != nullptr ? operand->example : L"";
                for (const wchar_t* c = example; *c != L'\0'; ++c)
                    if (*c == L'\\')
                        example = c + 1;
                return UsageError(Words(argument, L" needs a value, as in: varnock-cli ", name, L" ", example, L" ",
                                        option->name, L" ", option->example));
            }
            if (option->takes != Takes::Nothing)
                value = argv[++i];  // taken as typed, also when it begins with -
            if (arguments.Has(option->name))
                return UsageError(Words(name, L" takes ", option->name, L" once"));
            if (option->valid != nullptr && !option->valid(value))
                return UsageError(Words(option->name, L" takes ", option->wants, L", not ", Quoted(value)));
            arguments.names[arguments.count] = option->name;
            arguments.values[arguments.count++] = value;
        } else if (argument[0] == L'-' && !command.operandFirst) {
            CWideString words = Words(name, L" does not take the option ", Quoted(argument), L"; it takes ",
                                      OptionList(command.name));
            if (operand != nullptr && operand->takes == Takes::Path)
                words.Append(Words(L" (a ", operand->value, L" whose name begins with - is .\\", argument, L")"));
            return UsageError(words);
        } else if (operand == nullptr) {
            return UsageError(Words(name, L" takes no argument, but got ", Quoted(argument)));
        } else if (arguments.operand == nullptr) {
            arguments.operand = argument;
        } else if (command.operandFirst) {
            return UsageError(Words(name, L" takes one ", operand->value, L" and ", OptionList(command.name),
                                    L", but got ", Decimal(static_cast<size_t>(argc - 2)), L" arguments; quote a ",
                                    operand->value, L" with a space in it"));
        } else {
            return UsageError(Words(name, L" takes one ", operand->value, L", but got ", Quoted(arguments.operand),
                                    L" and ", Quoted(argument)));
        }
    }
    if (operand != nullptr && arguments.operand == nullptr)
        return UsageError(Words(name, L" needs the ", operand->value, operand->takes == Takes::Path ? L" file" : L"",
                                L", as in: varnock-cli ", name, L" ", operand->example));
    return -1;
}

}  // namespace
