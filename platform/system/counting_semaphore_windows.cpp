// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/counting_semaphore.h"

#include <algorithm>
#include <climits>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace platform {

CountingSemaphore::CountingSemaphore(std::ptrdiff_t initial)
    : handle_(::CreateSemaphoreW(nullptr, static_cast<LONG>(initial), LONG_MAX, nullptr)) {}

CountingSemaphore::~CountingSemaphore() {
    if (handle_) ::CloseHandle(handle_);
}

// At the largest count a release changes nothing a waiter could tell apart.
void CountingSemaphore::release() {
    ::ReleaseSemaphore(handle_, 1, nullptr);
}

void CountingSemaphore::acquire() {
    ::WaitForSingleObject(handle_, INFINITE);
}

bool CountingSemaphore::try_acquire() {
    return ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
}

bool CountingSemaphore::try_acquire_for(std::chrono::milliseconds timeout) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
    return ::WaitForSingleObject(
               handle_, static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1))) == WAIT_OBJECT_0;
}

} // namespace platform
