// How a benchmark hands its headline figures to bench/run.sh: one line per figure, set against
// the anchor it is judged by (a bare implementation of the same work, or the budget it must stay
// within), so that every benchmark reads the same way in one table.
//
//   RATIO<TAB>what<TAB>value<TAB>anchor<TAB>anchor value<TAB>unit
//
// The ratio is value / anchor value; the benchmark's own output around it tells the detail.
#pragma once

#include <cstdio>

inline void reportRatio(const char *what, double value, const char *anchor, double anchorValue, const char *unit)
{
    std::printf("RATIO\t%s\t%.4g\t%s\t%.4g\t%s\n", what, value, anchor, anchorValue, unit);
    std::fflush(stdout);
}
