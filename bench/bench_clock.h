// The benchmark's clock: microseconds from the performance counter, and the
// turns that the parts of an in-process comparison take.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

inline double Now()
{
    static const LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

// One part of a comparison: its call and the times it took.
struct TimedPart {
    std::vector<double>& samples;
    std::function<void()> call;
};

// Times each part once in round i. They take turns: each starts the round
// in turn, forwards in odd rounds and backwards in even ones, so each follows
// each of two others.
template <size_t N>
void TakeTurns(const TimedPart (&parts)[N], int i)
{
    constexpr int kParts = static_cast<int>(N);
    for (int k = 0; k < kParts; ++k) {
        const int at = (i / 2 + k) % kParts;
        const TimedPart& part = parts[i % 2 != 0 ? at : kParts - 1 - at];
        const double t = Now();
        part.call();
        part.samples.push_back(Now() - t);
    }
}
