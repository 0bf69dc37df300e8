// Whole files in and out: the adapter's image, the ledger, the executables
// whose sizes and imports are read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

// False if the file cannot be read, or is 64 MiB or more.
bool FileBytes(const std::wstring& path, std::vector<unsigned char>& bytes);
// Writes and flushes the file, or fails the benchmark naming `what`.
void PutFile(const std::wstring& path, const void* bytes, size_t length, const char* what);

}  // namespace bench
