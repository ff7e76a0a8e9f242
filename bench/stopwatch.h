#pragma once
// Timing of the benchmarks that compare a step with the analysis: wall and processor time, and
// the median of the runs.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

// Wall and processor time of one step: on a shared machine the processor time is the steadier.
struct Stopwatch {
    std::chrono::steady_clock::time_point wall;
    double cpu;
};

inline double cpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

inline Stopwatch startWatch() { return {std::chrono::steady_clock::now(), cpuSeconds()}; }

struct Times {
    std::vector<double> wall, cpu;
    void add(const Stopwatch& since) {
        wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - since.wall).count());
        cpu.push_back(cpuSeconds() - since.cpu);
    }
};

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
