// When a long computation lets R act on a pending interrupt or time limit.
// Shared by the package's two shared objects.
#ifndef KSDIST_POLL_H
#define KSDIST_POLL_H

#include <chrono>

// When to let R act on a pending interrupt or time limit: about every
// 10 ms, so that small computations pay nothing for it, and at the latest
// after a given amount of work.  Work is counted in doubles (a count of
// cells or multiply-adds can pass 2^31 within one step); every 2^16 of it
// the clock is read.  The clock is what keeps the checks regular where the
// work count says little about the time: the first touch of fresh pages
// can cost a hundred times a multiply-add (far more in a virtual machine
// whose host has not yet backed them), and a busy machine stretches
// everything.
struct PollClock {
    double work = 0.0;  // since the clock was last read
    double since = 0.0; // since the last check
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();

    bool due(double add, double most) {
        work += add;
        if (work < 0x1p16) return false;
        since += work;
        work = 0.0;
        const auto now = std::chrono::steady_clock::now();
        if (since < most && now - last < std::chrono::milliseconds(10)) return false;
        since = 0.0;
        last = now;
        return true;
    }
};

#endif
