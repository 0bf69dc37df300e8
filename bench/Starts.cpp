#include "bench/Starts.h"

#include <cstdio>

#include "bench/Figures.h"

namespace bench {

void RunStarts(const Program& varnock, const Program* floors, size_t floorCount, int runs,
               StartFigures& varnockFigures, StartFigures* floorFigures)
{
    // The warm-up round fills the caches.
    RunOnce(varnock, nullptr);
    for (size_t f = 0; f < floorCount; ++f) RunOnce(floors[f], nullptr);
    for (int i = 0; i < runs; ++i) {
        RunOnce(varnock, &varnockFigures);
        for (size_t f = 0; f < floorCount; ++f) RunOnce(floors[f], &floorFigures[f]);
    }
}

void PrintStarts(const Program* floors, size_t floorCount, const StartFigures& a, const StartFigures* b, int runs,
                 bool raw)
{
    std::printf("Start-up: %d starts of each program, in turn after one warm-up round, one Wine session.\n"
                "The floors are the least code showing one resource dialog (the baseline), then the same\n"
                "with Varnock's manifest, then with Varnock's own resources: the last is the floor of the\n"
                "targets, the other two show where the rest goes.\n",
                runs);
    std::printf("  %-30s %-26s %-26s %s\n", "figure: median [range]", "Varnock.exe", "floor",
                "Varnock / floor, pair by pair");
    const struct {
        const char* name;
        std::vector<double> StartFigures::*values;
        int decimals;
    } rows[] = {
        {"start to visible, idle (ms)", &StartFigures::startMs, 1},
        {"peak working set (KiB)", &StartFigures::peakKiB, 0},
        {"WM_CLOSE to process end (ms)", &StartFigures::closeMs, 1},
    };
    for (const auto& row : rows) {
        std::printf("  %s\n", row.name);
        for (size_t f = 0; f < floorCount; ++f)
            std::printf("    %-28s %-26s %-26s %s\n", floors[f].name,
                        f == 0 ? Figure(Summarize(a.*row.values), row.decimals).c_str() : "",
                        Figure(Summarize(b[f].*row.values), row.decimals).c_str(),
                        Figure(Summarize(PairRatios(a.*row.values, b[f].*row.values)), 3).c_str());
    }
    if (raw)
        for (int i = 0; i < runs; ++i)
            std::printf("  round %3d: start %7.1f %7.1f ms, peak %6.0f %6.0f KiB\n", i + 1, a.startMs[i],
                        b[0].startMs[i], a.peakKiB[i], b[0].peakKiB[i]);
    std::fflush(stdout);
}

}  // namespace bench
