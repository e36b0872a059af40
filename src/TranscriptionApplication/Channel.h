#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

namespace tc {

// An unbounded stream from producers to one consumer. Never drops an element; thread-safe (one mutex inside).
// The stream ends when the producer finishes or fails it, or when the consumer gives up (cancel, or a stop
// request while waiting in next()). The termination handler runs exactly once when it ends, outside the lock.
template <class T>
class Channel {
public:
    static std::shared_ptr<Channel> make() { return std::make_shared<Channel>(); }

    // Appends an element; false (and the element dropped) once the stream has ended.
    bool yield(T value)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_state != State::open) return false;
            m_buffer.push_back(std::move(value));
        }
        m_ready.notify_one();
        return true;
    }

    // Ends the stream normally; buffered elements are still delivered.
    void finish() { end(State::finished, nullptr); }

    // Ends the stream with an error, rethrown by next() after the buffered elements.
    void fail(std::exception_ptr error) { end(State::failed, std::move(error)); }

    // The consumer gives up: buffered elements are dropped and producers' yield() answers false.
    void cancel() { end(State::cancelled, nullptr); }

    // The next element; nothing at the end or when stop is requested (which cancels the stream).
    // Rethrows the failure once the buffered elements are consumed.
    std::optional<T> next(std::stop_token stop = {})
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, stop, [&] { return !m_buffer.empty() || m_state != State::open; });
        if (!m_buffer.empty() && m_state != State::cancelled) {
            T value = std::move(m_buffer.front());
            m_buffer.pop_front();
            return value;
        }
        if (m_state == State::failed && m_error) {
            auto error = std::exchange(m_error, nullptr);
            std::rethrow_exception(error);
        }
        if (m_state == State::open && stop.stop_requested()) {
            lock.unlock();
            cancel();
        }
        return std::nullopt;
    }

    // Sets the handler that runs once when the stream ends; runs it at once if the stream has already ended.
    void onTermination(std::function<void()> handler)
    {
        std::unique_lock lock(m_mutex);
        if (m_state == State::open) {
            m_onTermination = std::move(handler);
            return;
        }
        lock.unlock();
        if (handler) handler();
    }

    // True once finished, failed or cancelled.
    bool isEnded() const
    {
        std::lock_guard lock(m_mutex);
        return m_state != State::open;
    }

private:
    enum class State { open, finished, failed, cancelled };

    void end(State state, std::exception_ptr error)
    {
        std::function<void()> handler;
        {
            std::lock_guard lock(m_mutex);
            if (m_state != State::open) return;
            m_state = state;
            m_error = std::move(error);
            if (state == State::cancelled) m_buffer.clear();
            handler = std::move(m_onTermination);
        }
        m_ready.notify_all();
        if (handler) handler();
    }

    mutable std::mutex m_mutex;
    std::condition_variable_any m_ready;
    std::deque<T> m_buffer;
    State m_state = State::open;
    std::exception_ptr m_error;
    std::function<void()> m_onTermination;
};

template <class T>
using Stream = std::shared_ptr<Channel<T>>;

} // namespace tc
