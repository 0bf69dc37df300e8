// Time and figures: the clock every measurement reads, and how a series of
// measurements is summed up and printed ("12.34 [11.90-15.02]").
#pragma once

#include <string>
#include <vector>

namespace bench {

void StartClock();  // once, before the first NowMs
double NowMs();

struct Summary {
    double median, min, max;
};
Summary Summarize(std::vector<double> values);

// Element by element, a[i] / b[i] and a[i] - b[i]: the runs were taken in pairs.
std::vector<double> PairRatios(const std::vector<double>& a, const std::vector<double>& b);
std::vector<double> PairDifferences(const std::vector<double>& a, const std::vector<double>& b);
// Best of N: the fastest of a over the fastest of b, each as near its floor as
// the machine let it come.
double BestRatio(const std::vector<double>& a, const std::vector<double>& b);

std::string Format(const char* format, ...);
// "12.34 [11.90-15.02]": median [min-max], with the given number of decimals.
std::string Figure(const Summary& s, int decimals);
std::string Narrow(const std::wstring& text);  // UTF-8

}  // namespace bench
