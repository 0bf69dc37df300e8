#include "bench/Figures.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace bench {

namespace {
double g_ticksPerMs;
}  // namespace

void StartClock()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMs = double(frequency.QuadPart) / 1000;
}

double NowMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / g_ticksPerMs;
}

Summary Summarize(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

std::vector<double> PairRatios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size(); ++i) ratios.push_back(a[i] / b[i]);
    return ratios;
}

std::vector<double> PairDifferences(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> differences;
    for (size_t i = 0; i < a.size(); ++i) differences.push_back(a[i] - b[i]);
    return differences;
}

double BestRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    return Summarize(a).min / Summarize(b).min;
}

std::string Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Figure(const Summary& s, int decimals)
{
    return Format("%.*f [%.*f-%.*f]", decimals, s.median, decimals, s.min, decimals, s.max);
}

std::string Narrow(const std::wstring& text)
{
    std::string bytes(text.size() * 3 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], int(bytes.size()),
                                      nullptr, nullptr);
    bytes.resize(n > 0 ? size_t(n) : 0);
    return bytes;
}

}  // namespace bench
