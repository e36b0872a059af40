#pragma once

#include "TranscriptionApplication/Channel.h"

#include <functional>
#include <stop_token>
#include <thread>

namespace tc {

// One background thread running posted jobs one at a time, in posting order. Destruction cancels the jobs not
// yet begun, requests stop of the running one (jobs receive the token) and joins. Thread-safe.
class SerialWorker {
public:
    using Job = std::function<void(std::stop_token)>;

    SerialWorker();
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // Queues a job; false once the worker is finishing or stopped.
    bool post(Job job);
    // Runs the jobs already queued to their end, then joins; later posts are refused.
    void drainAndJoin();

private:
    Stream<Job> m_jobs;
    std::jthread m_thread;
};

} // namespace tc
