#pragma once

namespace tc {

// The speech and language engines run their threads on OpenMP, which reads its wait policy once, when the
// program is loaded. Waiting passively lets a decode use both cores without its threads spinning against the
// capture and the user's other programs, so the program starts itself once more with the policy set. Measured:
// docs/recognition.md, "First round" and "Seventeenth round".
namespace EngineThreads {

// When OMP_WAIT_POLICY is not set: sets it to passive after a short spin (GOMP_SPINCOUNT, unless set) and replaces
// this process with a fresh run of the same program and arguments. Returns at once when the policy is already set, and
// after a failed restart (with the environment as it was, so the engines keep to one thread).
void restartWithPassiveWaiting();

} // namespace EngineThreads

} // namespace tc
