#include "TranscriptionApplication/PortFailure.h"

namespace tc {

PortFailure::PortFailure(const std::string& description, Recovery recovery)
    : std::runtime_error(description), m_recovery(recovery)
{}

PortFailure::Recovery PortFailure::recoveryOf(const std::exception_ptr& error)
{
    if (!error) return Recovery::restart;
    try {
        std::rethrow_exception(error);
    } catch (const PortFailure& failure) {
        return failure.recovery();
    } catch (...) {
        return Recovery::restart;
    }
}

} // namespace tc
