#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>

namespace tc {

// An unbounded queue from one producer thread to one consumer thread without locks: push() never blocks
// and never waits for the consumer, so a real-time audio callback can use it. The consumer sleeps on an
// atomic counter that every push (and a stop request) bumps.
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
        m_pushes.fetch_add(1, std::memory_order_release);
        m_pushes.notify_one();
    }

    // Consumer side only: the next element, waiting for one; nothing once stop is requested.
    std::optional<T> pop(std::stop_token stop)
    {
        std::stop_callback wake(stop, [this] {
            m_pushes.fetch_add(1, std::memory_order_release);
            m_pushes.notify_all();
        });
        for (;;) {
            const auto seen = m_pushes.load(std::memory_order_acquire);
            if (stop.stop_requested()) return std::nullopt;
            if (auto value = tryPop()) return value;
            m_pushes.wait(seen, std::memory_order_acquire);
        }
    }

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

    Node* m_head; // consumer's
    Node* m_tail; // producer's
    std::atomic<std::uint64_t> m_pushes{0};
};

} // namespace tc
