// Sizes and imports: the executables' sizes, Varnock.exe against the
// baseline dialog and varnock-cli.exe beside them, and the DLLs Varnock.exe
// imports, on each build given.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct SizeRow {
    std::string label;
    std::wstring folder;  // ends with a backslash
    bool stripped;        // the row the size target is checked on
};

// Prints the table; returns whether every stripped Varnock.exe meets the
// size and import target.
bool PrintSizes(const std::vector<SizeRow>& rows);

}  // namespace bench
