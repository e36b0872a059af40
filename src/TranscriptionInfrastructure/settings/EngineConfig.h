#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// Which transcriber back end to use and for which locale.
struct EngineConfig {
    enum class TranscriberKind { speechAnalyzer };

    struct Overrides {
        std::optional<TranscriberKind> transcriber;
        std::optional<std::string> locale;
    };

    TranscriberKind transcriber = TranscriberKind::speechAnalyzer;
    std::string locale = "ja-JP";

    // Defaults, then the file (ignored whole when malformed), then TS_TRANSCRIBER / TS_LOCALE, then overrides.
    // Never fails.
    static EngineConfig resolve(const Overrides& overrides, const std::map<std::string, std::string>& environment,
                                const std::optional<std::filesystem::path>& file);
    // $HOME/.config/transcription-corvane/config.json
    static std::optional<std::filesystem::path> defaultConfigFileURL();

    static std::optional<TranscriberKind> transcriberKindFromRawValue(const std::string& raw);
    static std::string rawValue(TranscriberKind kind);
    static std::vector<TranscriberKind> allTranscriberKinds();

    friend bool operator==(const EngineConfig&, const EngineConfig&) = default;
};

} // namespace tc
