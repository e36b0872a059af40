#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>

namespace tc {

// The threaded main loop and context handling shared by the probe and the capture: owning handles, the loop lock,
// deadlines on the loop, connecting and waiting for introspection operations.
class PulseAudioMainLoop {
public:
    struct MainloopDeleter {
        void operator()(pa_threaded_mainloop* mainloop) const { pa_threaded_mainloop_free(mainloop); }
    };
    // Detaches the callbacks before disconnecting, so none reaches an owner that is going away.
    struct ContextDeleter {
        void operator()(pa_context* context) const;
    };
    // Detaches the callbacks before disconnecting, so none reaches an owner that is going away.
    struct StreamDeleter {
        void operator()(pa_stream* stream) const;
    };
    using MainloopPtr = std::unique_ptr<pa_threaded_mainloop, MainloopDeleter>;
    using ContextPtr = std::unique_ptr<pa_context, ContextDeleter>;
    using StreamPtr = std::unique_ptr<pa_stream, StreamDeleter>;

    // Holds the main loop lock for a scope (the loop's own recursive-safe lock, taken from outside its thread).
    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* mainloop) : m_mainloop(mainloop) { pa_threaded_mainloop_lock(m_mainloop); }
        ~Lock() { pa_threaded_mainloop_unlock(m_mainloop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
    };

    // A timer on the loop that wakes waiters once the deadline has passed. Create and destroy with the loop locked.
    class Deadline {
    public:
        // Fires `after` from now on the loop of `context`.
        Deadline(pa_threaded_mainloop* mainloop, pa_context* context, std::chrono::milliseconds after);
        ~Deadline();
        Deadline(const Deadline&) = delete;
        Deadline& operator=(const Deadline&) = delete;

        // True once the deadline has passed.
        bool passed() const { return m_passed; }

    private:
        static void fire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);

        pa_threaded_mainloop* m_mainloop;
        pa_mainloop_api* m_api;
        pa_time_event* m_event = nullptr;
        bool m_passed = false;
    };

    // False once the context has failed or was terminated.
    static bool isContextGood(pa_context* context);
    // Connects without spawning a server; false when the server cannot be reached before the deadline. Call with
    // the loop locked.
    static bool connectContext(pa_threaded_mainloop* mainloop, pa_context* context, std::chrono::milliseconds timeout);
    // Runs one introspection operation to its end; false on timeout or a lost connection. Loop locked.
    static bool awaitOperation(pa_threaded_mainloop* mainloop, pa_context* context, pa_operation* operation,
                               const Deadline& deadline);
};

} // namespace tc
