#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <utility>

namespace tc::test {

// The one lock a thread-safe fake keeps its state under: reads a copy, changes it and wakes the waiters, or waits
// (bounded, or until a stop request) for a condition.
class Locked {
public:
    template <class T>
    T read(const T& value) const
    {
        std::lock_guard lock(m_mutex);
        return value;
    }
    // Assigns the field under the lock and wakes every waiter.
    template <class T, class Value>
    void set(T& field, Value&& value)
    {
        change([&] { field = std::forward<Value>(value); });
    }
    // Runs the change under the lock, wakes every waiter and returns what the change returned.
    template <class Change>
    auto change(Change change)
    {
        std::lock_guard lock(m_mutex);
        m_changed.notify_all();
        return change();
    }
    template <class Condition>
    bool waitFor(std::chrono::milliseconds timeout, Condition condition)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, condition);
    }
    // Waits until the condition holds or a stop is requested, then runs after under the lock; what after returned.
    template <class Condition, class After>
    auto waitThen(std::stop_token stop, Condition condition, After after)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, stop, condition);
        return after();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
};

} // namespace tc::test
