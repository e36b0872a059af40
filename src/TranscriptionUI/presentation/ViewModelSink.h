#pragma once

#include "TranscriptionApplication/OutputSink.h"

#include <functional>
#include <memory>
#include <stop_token>

namespace tc {

class MainThreadHop;

// The runner's sink: hands each event to the model (its handler) on the main thread and returns once the model has
// handled it, so events keep their order. Gives up waiting when the run is stopped or the model is gone, so a closing
// window never deadlocks with a run that is still emitting.
class ViewModelSink : public OutputSink {
public:
    // Runs on the main thread, through the hop.
    using Handler = std::function<void(const OutputEvent&)>;

    ViewModelSink(Handler model, std::shared_ptr<MainThreadHop> hop, std::stop_token stop);

    // Called from the runner's thread, never from the main thread.
    void emit(const OutputEvent& event) override;

private:
    Handler m_model;
    std::shared_ptr<MainThreadHop> m_hop;
    std::stop_token m_stop;
};

} // namespace tc
