// varnock-cli.exe provision on a ledger of 10,000 lines against write-suffix,
// pair by pair: what reading the ledger and appending to it adds to the same
// five library calls. And provision with a label printed to a file against
// provision alone: what the label adds.
#pragma once

#include <string>
#include <vector>

namespace bench {

constexpr int kLedgerLines = 10000;  // the header and 9,999 rows

struct ProvisionFigures {
    std::vector<double> provisionMs, writeSuffixMs, labelledMs;
};

// `image` is the virtual adapter's image file, reset before each provision run.
ProvisionFigures RunProvision(const std::wstring& folder, const std::wstring& image, int runs);
void PrintProvision(const ProvisionFigures& figures, int runs, bool raw);

}  // namespace bench
