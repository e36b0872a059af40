#pragma once

#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/SerialWorker.h"

#include <QObject>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>

namespace tc {

template <class T>
bool sameObservedValue(const T& a, const T& b)
{
    return a == b;
}

// Levels are compared bit for bit, so a NaN level still counts as a change once and not forever.
inline bool sameObservedValue(const std::map<AudioSourceID, float>& a, const std::map<AudioSourceID, float>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return x.first == y.first && std::memcmp(&x.second, &y.second, sizeof(float)) == 0;
           });
}

// Stores the value and emits the owner's change signal, only when the value really changed.
template <class Owner, class T, class U>
bool assignObserved(Owner* owner, T& field, U&& value, void (Owner::*signal)())
{
    T next(std::forward<U>(value));
    if (sameObservedValue(field, next)) return false;
    field = std::move(next);
    Q_EMIT(owner->*signal)();
    return true;
}

// Runs work on the worker, then `then` with its result on the hop's thread, unless the hop was closed.
template <class T, class Work, class Then>
void runOffMain(SerialWorker& worker, const std::shared_ptr<MainThreadHop>& hop, Work work, Then then)
{
    worker.post([hop, work = std::move(work), then = std::move(then)](std::stop_token stop) mutable {
        std::optional<T> result;
        result.emplace(work(stop));
        if (stop.stop_requested()) return;
        hop->post([then = std::move(then), result = std::move(*result)]() mutable { then(std::move(result)); });
    });
}

} // namespace tc
