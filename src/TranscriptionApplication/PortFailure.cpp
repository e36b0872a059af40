#include "TranscriptionApplication/PortFailure.h"

#include <algorithm>
#include <cstdio>

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

std::string PortFailure::shownText(const std::exception& error)
{
    const std::string text = error.what();
    // Every text of ours is Japanese; a what() of plain ASCII comes from the standard library or an engine.
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return text;
    std::fprintf(stderr, "transcription-corvane: 内部エラー: %s\n", text.c_str());
    return "アプリの内部で予期しないエラーが起きました（詳細はログにあります）";
}

} // namespace tc
