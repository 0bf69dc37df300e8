// Start-up: Varnock.exe against the floors, the least code showing a dialog
// with more and more of Varnock's resources, started in turn; the time to a
// visible, idle window, the peak working set and the time to close.
#pragma once

#include <cstddef>

#include "bench/ProgramRun.h"

namespace bench {

// One warm-up round, then `runs` rounds of Varnock then each floor in turn;
// `floorFigures` has one entry for each of the `floorCount` floors.
void RunStarts(const Program& varnock, const Program* floors, size_t floorCount, int runs,
               StartFigures& varnockFigures, StartFigures* floorFigures);
void PrintStarts(const Program* floors, size_t floorCount, const StartFigures& a, const StartFigures* b, int runs,
                 bool raw);

}  // namespace bench
