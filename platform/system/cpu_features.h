// SPDX-License-Identifier: GPL-3.0-or-later
// What the processor offers to the code paths chosen at run time: every vector path is checked
// against these (false where the build is not for x86).
#pragma once

namespace platform {

// Safe even from a static constructor that runs before the runtime's own start-up.
inline bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

inline bool CpuHasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

} // namespace platform
