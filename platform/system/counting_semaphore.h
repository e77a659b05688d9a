// SPDX-License-Identifier: GPL-3.0-or-later
// The counting semaphore a recording thread wakes a waiter with: release never takes a lock and
// never loses a waiter.
#pragma once

#ifdef _WIN32
#include <chrono>
#include <cstddef>
#else
#include <semaphore>
#endif

namespace platform {

#ifdef _WIN32
// A kernel semaphore. MinGW's GCC 12 library has no futex-like wait: its std::counting_semaphore
// looks at the count, then sleeps on a condition variable the releasing thread never locks, so a
// release between the two is lost and the waiter sleeps on a positive count.
class CountingSemaphore {
public:
    explicit CountingSemaphore(std::ptrdiff_t initial);
    ~CountingSemaphore();
    CountingSemaphore(const CountingSemaphore&) = delete;
    CountingSemaphore& operator=(const CountingSemaphore&) = delete;

    void release();
    void acquire();
    bool try_acquire();
    bool try_acquire_for(std::chrono::milliseconds timeout);

private:
    void* handle_;
};
#else
// Elsewhere the library's wait is a futex, which re-checks the count inside the kernel.
using CountingSemaphore = std::counting_semaphore<>;
#endif

} // namespace platform
