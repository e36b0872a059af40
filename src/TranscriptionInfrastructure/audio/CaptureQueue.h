#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tc {

// An unbounded queue from one producer thread to one consumer thread without locks: push() never blocks
// and never waits for the consumer, so a real-time audio callback can use it. The consumer sleeps on a futex
// over a push counter, and push() makes the wake-up call only while the consumer sleeps.
template <class T>
class CaptureQueue {
public:
    CaptureQueue() : m_head(new Node), m_tail(m_head) {}
    ~CaptureQueue()
    {
        while (m_head) {
            Node* next = m_head->next.load(std::memory_order_relaxed);
            delete m_head;
            m_head = next;
        }
    }
    CaptureQueue(const CaptureQueue&) = delete;
    CaptureQueue& operator=(const CaptureQueue&) = delete;

    // Producer side only.
    void push(T value)
    {
        auto* node = new Node;
        node->value.emplace(std::move(value));
        m_tail->next.store(node, std::memory_order_release);
        m_tail = node;
        bump();
    }

    // Consumer side only: the next element, waiting for one; nothing once stop is requested.
    std::optional<T> pop(std::stop_token stop)
    {
        std::stop_callback wake(stop, [this] { bump(); });
        for (;;) {
            const auto seen = m_pushes.load(std::memory_order_seq_cst);
            if (stop.stop_requested()) return std::nullopt;
            if (auto value = tryPop()) return value;
            // Announce the sleep before looking again, so that a push either sees it or is seen here.
            m_sleeping.store(true, std::memory_order_seq_cst);
            if (m_pushes.load(std::memory_order_seq_cst) == seen)
                syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&m_pushes), FUTEX_WAIT_PRIVATE, seen, nullptr,
                        nullptr, 0);
            m_sleeping.store(false, std::memory_order_seq_cst);
        }
    }

    // True once the consumer has announced that it waits for a push (and until it wakes); from any thread.
    bool consumerWaiting() const { return m_sleeping.load(std::memory_order_seq_cst); }

    // Consumer side only: the next element if one is there.
    std::optional<T> tryPop()
    {
        Node* next = m_head->next.load(std::memory_order_acquire);
        if (!next) return std::nullopt;
        T value = std::move(*next->value);
        next->value.reset();
        delete m_head;
        m_head = next;
        return std::optional<T>(std::move(value));
    }

private:
    struct Node {
        std::optional<T> value;
        std::atomic<Node*> next{nullptr};
    };

    void bump()
    {
        m_pushes.fetch_add(1, std::memory_order_seq_cst);
        if (m_sleeping.load(std::memory_order_seq_cst))
            syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&m_pushes), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }

    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free);

    Node* m_head; // consumer's
    Node* m_tail; // producer's
    std::atomic<std::uint32_t> m_pushes{0};
    std::atomic<bool> m_sleeping{false};
};

} // namespace tc
