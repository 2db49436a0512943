// Peak memory of one benchmark run, for a counter beside its time: how far the
// process's peak resident set (VmHWM) rose above the resident set at the start.
//
// Linux only, as the benchmarks are: the peak is reset through
// /proc/self/clear_refs ("5", kernel 4.0 and later) and read from
// /proc/self/status. Freed heap is handed back first (malloc_trim), so that a
// run does not hide its growth in memory an earlier run left behind.
#pragma once

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavrel::kes04::bench {

class PeakMemory {
  public:
    // Starts a measurement. Where the peak cannot be reset (older kernels)
    // the figure takes in earlier peaks, so it can only read too high.
    void start() {
        ::malloc_trim(0);
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
        }
        m_baseKb = statusKb("VmRSS:");
    }
    // Megabytes by which the peak rose since `start()`.
    double growthMb() const {
        const long peak = statusKb("VmHWM:");
        return peak > m_baseKb ? double(peak - m_baseKb) / 1024.0 : 0.0;
    }

  private:
    static long statusKb(const char* name) {
        FILE* f = std::fopen("/proc/self/status", "r");
        if (!f) return 0;
        char line[256];
        long kb = 0;
        const size_t n = std::strlen(name);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, name, n) == 0) kb = std::atol(line + n);
        std::fclose(f);
        return kb;
    }

    long m_baseKb = 0;
};

}  // namespace tavrel::kes04::bench
