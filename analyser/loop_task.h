// SPDX-License-Identifier: GPL-3.0-or-later
// LoopTask: the coroutine the Start command and RunLoop are written as, so that a pass reads top
// to bottom with its waits as waits. A task runs when it is started or awaited, suspends at each
// wait (whoever parked it keeps the handle and resumes it), and on its end resumes the task that
// awaited it.
#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace analyser {

class LoopTask {
public:
    struct promise_type {
        std::coroutine_handle<> awaiter;

        LoopTask get_return_object() {
            return LoopTask(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept {
            struct ToAwaiter {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<>
                await_suspend(std::coroutine_handle<promise_type> self) noexcept {
                    const std::coroutine_handle<> next = self.promise().awaiter;
                    return next ? next : std::noop_coroutine();
                }
                void await_resume() noexcept {}
            };
            return ToAwaiter{};
        }
        void return_void() noexcept {}
        // Nothing the loop calls is meant to throw; an exception leaving an event handler would
        // end the program all the same.
        void unhandled_exception() noexcept { std::terminate(); }
    };

    LoopTask() = default;
    LoopTask(LoopTask&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    LoopTask& operator=(LoopTask&& other) noexcept {
        if (this != &other) {
            if (handle_) handle_.destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    LoopTask(const LoopTask&) = delete;
    LoopTask& operator=(const LoopTask&) = delete;
    ~LoopTask() {
        if (handle_) handle_.destroy();
    }

    // Runs the task up to its first wait (or its end).
    void start() { handle_.resume(); }
    bool active() const { return handle_ && !handle_.done(); }

    // Awaiting a task runs it; the awaiter goes on once it has ended.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiter) noexcept {
        handle_.promise().awaiter = awaiter;
        return handle_;
    }
    void await_resume() const noexcept {}

private:
    explicit LoopTask(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    std::coroutine_handle<promise_type> handle_;
};

} // namespace analyser
