#include "bench/Provision.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bench/ConsoleRun.h"
#include "bench/Fail.h"
#include "bench/Figures.h"
#include "bench/Files.h"
#include "tests/support/LedgerFixture.h"

namespace bench {

namespace {

constexpr char kProvisionedSerial[] = "VN240001";  // the pool's first: kept free in the ledger

// A ledger of kLedgerLines lines as stations write it: a reserved row, then
// provisioned (or now and then failed) per run, and a last reserved row whose
// run died. Most serials are of other batches; every hundredth run gave out
// one of the adapter's batch (VN240050 to VN240098). Its first suffix, 01,
// stays free, so that every run gives out VN240001. `factory` is the
// adapter's record: each row's is that with the row's old serial.
std::string MakeLedger(const std::vector<unsigned char>& factory)
{
    std::string ledger = fixture::kStart;
    static const char digits[] = "0123456789abcdef";
    for (int line = 2, run = 0; line <= kLedgerLines; ++run) {
        const std::string oldSerial = run % 2 ? Format("VN2399%02d", run % 99 + 1) : "VN240017";
        const std::string newSerial =
            run % 100 == 7 ? Format("VN2400%02d", 50 + run / 100 % 49) : Format("VN1%05d", run);
        std::vector<unsigned char> record = factory;
        std::memcpy(&record[11], oldSerial.data(), 8);
        std::string hex;
        for (unsigned char byte : record) hex += {digits[byte >> 4], digits[byte & 0x0F]};
        const std::string fields = Format(",%s,%s,V2.0,0213,Virtual CAN,", oldSerial.c_str(), newSerial.c_str()) + hex;
        const std::string time = Format("2026-01-%02dT%02d:%02d:%02dZ", 5 + run / 1000, 8 + run % 1000 / 120,
                                        run % 120 / 2, run % 2 * 30);
        const std::string station = Format("LINE%d-PC", run % 3 + 1);
        const char* const closing = run % 50 == 25 ? "failed" : "provisioned";
        const char* const exitCode = run % 50 == 25 ? (run % 100 == 25 ? "7" : "6") : "";
        ledger += time + ',' + station + ",reserved" + fields + ",\r\n";
        if (++line > kLedgerLines) break;
        ledger += Format("%s,%s,%s", time.c_str(), station.c_str(), closing) + fields + ',' + exitCode + "\r\n";
        ++line;
    }
    return ledger;
}

}  // namespace

// varnock-cli.exe provision and write-suffix take turns, swapping places every
// pair. Before each provision run, outside the timed part, the image gets the
// factory record back and the ledger its 10,000 lines, both flushed as a
// station leaves them (PutFile), so that every run provisions the same adapter
// against the same ledger. The ledger is named relative to the current folder,
// the temp folder, as an operator's batch file would, and within the
// program's 64 characters.
ProvisionFigures RunProvision(const std::wstring& folder, const std::wstring& image, int runs)
{
    const std::wstring cli = folder + L"varnock-cli.exe";
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp) || !SetCurrentDirectoryW(temp)) Fail("cannot go to the temp folder");
    const std::wstring ledger = L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L".csv";
    RemoveOnFailure(temp + ledger);
    // A ledger reset to its lines is one that went back in time to the
    // station that wrote it: the runs remember their ledgers in a folder of
    // the benchmark's, emptied before each run.
    const std::wstring appData = temp + (L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-appdata");
    const std::wstring memory = appData + L"\\Varnock\\ledgers";
    SetEnvironmentVariableW(L"LOCALAPPDATA", appData.c_str());
    const auto forget = [&] {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((memory + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do
            DeleteFileW((memory + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    };
    std::string output;

    // The factory record, as the adapter makes it on first use.
    DeleteFileW(image.c_str());
    RunToExitMs(cli, L"read", "varnock-cli.exe read", output);
    std::vector<unsigned char> factory;
    if (!FileBytes(image, factory) || factory.size() != 52) Fail("no factory record in the image");
    const std::string ledgerBytes = MakeLedger(factory);
    const std::string expected = Format("old-serial: VN240017\r\nnew-serial: %s\r\nledger-line: %d\r\n",
                                        kProvisionedSerial, kLedgerLines + 2);

    // A label as a line's might be, printed to a file: the label's own cost,
    // without a printer's.
    const std::wstring labelTemplate = L"varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L".zpl";
    const std::wstring labelOut = L".\\varnock-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-label.zpl";
    RemoveOnFailure(temp + labelTemplate);
    RemoveOnFailure(temp + labelOut.substr(2));
    const std::string templateBytes =
        "^XA\r\n^CI28\r\n^PW400\r\n^LL200\r\n^FO16,16^A0N,56,44^FH^FD${serial}^FS\r\n"
        "^FO16,84^A0N,26,22^FH^FD${product}^FS\r\n^FO16,116^A0N,22,20^FH^FDHW ${hardware}   FW ${firmware}^FS\r\n"
        "^FO16,146^A0N,20,18^FH^FD${time}^FS\r\n^FO290,34^BQN,2,4^FH^FDQA,${serial}^FS\r\n^XZ\r\n";
    PutFile(labelTemplate, templateBytes.data(), templateBytes.size(), "the label template");

    const wchar_t* const suffixes[] = {L"A1", L"B2"};
    ProvisionFigures figures;
    for (int i = -1; i < runs; ++i) {  // run -1 warms up
        double provisionMs = 0, writeSuffixMs = 0, labelledMs = 0;
        // The three in turn, each first, second and last as often.
        for (int turn = 0; turn < 3; ++turn) {
            const int kind = (turn + i + 3) % 3;
            if (kind != 2) {
                const bool labelled = kind == 1;
                PutFile(image, factory.data(), factory.size(), "the image");
                PutFile(ledger, ledgerBytes.data(), ledgerBytes.size(), "the ledger");
                forget();
                DeleteFileW(labelOut.c_str());
                std::wstring command = L"provision " + ledger;
                if (labelled) command += L" --label " + labelTemplate + L" --printer " + labelOut;
                const double ms = RunToExitMs(cli, command, "varnock-cli.exe provision", output);
                (labelled ? labelledMs : provisionMs) = ms;
                const std::string wanted =
                    labelled ? expected + Format("labelled-line: %d\r\n", kLedgerLines + 3) : expected;
                if (output != wanted) Fail("varnock-cli.exe provision printed: %s", output.c_str());
                // The lines it appended: the reservation, the outcome, the label's.
                std::vector<unsigned char> after, label;
                const std::string added = FileBytes(ledger, after) && after.size() > ledgerBytes.size()
                                              ? std::string(after.begin() + ledgerBytes.size(), after.end())
                                              : std::string();
                if (std::count(added.begin(), added.end(), '\n') != (labelled ? 3 : 2) ||
                    added.find(std::string(",reserved,VN240017,") + kProvisionedSerial) == std::string::npos ||
                    added.find(std::string(",provisioned,VN240017,") + kProvisionedSerial) == std::string::npos ||
                    (labelled && added.find(std::string(",labelled,VN240017,") + kProvisionedSerial) == std::string::npos))
                    Fail("varnock-cli.exe provision appended: %s", added.c_str());
                if (labelled && (!FileBytes(labelOut, label) ||
                                 std::string(label.begin(), label.end()).find(std::string("^FDQA,") + kProvisionedSerial) ==
                                     std::string::npos))
                    Fail("varnock-cli.exe provision --label printed no label with %s", kProvisionedSerial);
            } else {
                const wchar_t* const suffix = suffixes[(i + 1) % 2];
                writeSuffixMs = RunToExitMs(cli, std::wstring(L"write-suffix ") + suffix, "varnock-cli.exe", output);
                if (output.find("new-serial: ") == std::string::npos ||
                    output.find(Narrow(suffix) + "\r\n") == std::string::npos)
                    Fail("varnock-cli.exe write-suffix %s printed: %s", Narrow(suffix).c_str(), output.c_str());
            }
        }
        if (i < 0) continue;
        figures.provisionMs.push_back(provisionMs);
        figures.writeSuffixMs.push_back(writeSuffixMs);
        figures.labelledMs.push_back(labelledMs);
    }
    DeleteFileW(ledger.c_str());
    DeleteFileW(labelTemplate.c_str());
    DeleteFileW(labelOut.c_str());
    forget();
    RemoveDirectoryW(memory.c_str());
    RemoveDirectoryW((appData + L"\\Varnock").c_str());
    RemoveDirectoryW(appData.c_str());
    return figures;
}

void PrintProvision(const ProvisionFigures& figures, int runs, bool raw)
{
    std::printf("\nvarnock-cli.exe provision on a ledger of %d lines (reading it, the same five library calls,\n"
                "appending two lines) against write-suffix: %d runs of each after one warm-up pair, pair by\n"
                "pair, the order swapped every pair. Before each provision run, outside the timed part, the\n"
                "image is reset to the factory record and the ledger to its %d lines.\n",
                kLedgerLines, runs, kLedgerLines);
    PrintPairTable("provision", "write-suffix", "provision / write-suffix, pair by pair", figures.provisionMs, figures.writeSuffixMs, runs, raw);
    std::printf("\nThe same provision with --label TEMPLATE --printer .\\FILE (fill a template, write it, append a\n"
                "labelled row: a third line) against provision alone, the three runs' order turning every time.\n");
    PrintPairTable("--label", "provision", "provision --label / provision, run by run", figures.labelledMs,
                   figures.provisionMs, runs, raw);
}

}  // namespace bench
