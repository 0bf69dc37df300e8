#include "bench/Sizes.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

#include "bench/Figures.h"
#include "bench/Files.h"

namespace bench {

namespace {

// The names of the DLLs a PE image (32- or 64-bit) imports at load time;
// empty if it is no PE image.
std::vector<std::string> ImportedDlls(const std::vector<unsigned char>& image)
{
    const auto in = [&](size_t offset, size_t size) { return offset + size <= image.size(); };
    const auto u16 = [&](size_t offset) { return unsigned(image[offset] | image[offset + 1] << 8); };
    const auto u32 = [&](size_t offset) { return uint32_t(u16(offset) | uint32_t(u16(offset + 2)) << 16); };
    std::vector<std::string> names;
    if (!in(0x40, 0) || u16(0) != 0x5A4D) return names;
    const size_t pe = u32(0x3C);
    if (!in(pe, 24) || u32(pe) != 0x4550) return names;
    const unsigned sectionCount = u16(pe + 6);
    const size_t optional = pe + 24;
    const size_t sections = optional + u16(pe + 20);
    if (!in(optional, 2)) return names;
    const size_t directories = optional + (u16(optional) == 0x20B ? 112 : 96);
    if (!in(directories + 8, 8)) return names;
    const auto toOffset = [&](uint32_t rva) -> size_t {
        for (unsigned i = 0; i < sectionCount; ++i) {
            const size_t s = sections + 40 * i;
            if (!in(s, 40)) break;
            const uint32_t address = u32(s + 12), rawSize = u32(s + 16), raw = u32(s + 20);
            if (rva >= address && rva < address + rawSize) return raw + (rva - address);
        }
        return SIZE_MAX;
    };
    for (size_t d = toOffset(u32(directories + 8)); d != SIZE_MAX && in(d, 20); d += 20) {
        const uint32_t nameRva = u32(d + 12);
        if (nameRva == 0) break;
        size_t n = toOffset(nameRva);
        if (n == SIZE_MAX) break;
        std::string name;
        for (; in(n, 1) && image[n]; ++n) name += char(image[n]);
        names.push_back(name);
    }
    return names;
}

// Windows' own DLLs, and the device library; a runtime of the compiler's
// (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) is none of them.
bool IsAllowedImport(std::string name)
{
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    static const char* const allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll",   "msvcrt.dll",
                                          "comctl32.dll", "advapi32.dll", "shell32.dll", "ntdll.dll",
                                          "qelvo_can.dll"};
    for (const char* a : allowed)
        if (name == a) return true;
    return name.compare(0, 11, "api-ms-win-") == 0;
}

}  // namespace

bool PrintSizes(const std::vector<SizeRow>& rows)
{
    bool met = true;
    bool checked = false;
    std::printf("\nExecutables (bytes)\n");
    std::printf("  %-18s %10s %10s %7s %12s  %s\n", "build", "Varnock", "baseline", "ratio", "varnock-cli",
                "Varnock.exe imports");
    for (const SizeRow& row : rows) {
        std::vector<unsigned char> varnock, baseline, cli;
        const bool haveVarnock = FileBytes(row.folder + L"Varnock.exe", varnock);
        const bool haveBaseline = FileBytes(row.folder + L"VarnockBaseline.exe", baseline);
        const bool haveCli = FileBytes(row.folder + L"varnock-cli.exe", cli);
        std::string imports;
        bool allowed = haveVarnock;
        for (const std::string& dll : haveVarnock ? ImportedDlls(varnock) : std::vector<std::string>{}) {
            if (!IsAllowedImport(dll)) allowed = false;
            imports += (imports.empty() ? "" : " ") + dll + (IsAllowedImport(dll) ? "" : "(!)");
        }
        std::printf("  %-18s %10s %10s %7s %12s  %s\n", row.label.c_str(),
                    haveVarnock ? Format("%zu", varnock.size()).c_str() : "-",
                    haveBaseline ? Format("%zu", baseline.size()).c_str() : "-",
                    haveVarnock && haveBaseline ? Format("%.2f", double(varnock.size()) / baseline.size()).c_str()
                                                : "-",
                    haveCli ? Format("%zu", cli.size()).c_str() : "-",
                    haveVarnock ? imports.c_str() : "(missing)");
        if (row.stripped) {
            checked = true;
            met = met && allowed && varnock.size() <= 65536;
        }
    }
    return met && checked;
}

}  // namespace bench
