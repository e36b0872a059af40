#include "TranscriptionUI/presentation/SerialWorker.h"

namespace tc {

SerialWorker::SerialWorker()
    : m_jobs(Channel<Job>::make()), m_thread([jobs = m_jobs](std::stop_token stop) {
          while (auto job = jobs->next(stop)) {
              if (stop.stop_requested()) break;
              (*job)(stop);
          }
      })
{}

SerialWorker::~SerialWorker()
{
    m_thread.request_stop();
    if (m_thread.joinable()) m_thread.join();
}

bool SerialWorker::post(Job job)
{
    return m_jobs->yield(std::move(job));
}

void SerialWorker::drainAndJoin()
{
    m_jobs->finish();
    if (m_thread.joinable()) m_thread.join();
}

} // namespace tc
