#include "TranscriptionInfrastructure/settings/EngineConfig.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/files/FileReader.h"

#include <nlohmann/json.hpp>

namespace tc {

namespace {

struct FileConfig {
    std::optional<std::string> transcriber;
    std::optional<std::string> locale;
};

// Nothing when the file is not a JSON object or a known key holds something other than a string or null:
// such a file is ignored whole.
std::optional<FileConfig> decodeFileConfig(const std::string& bytes)
{
    const auto json = nlohmann::json::parse(bytes, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    FileConfig config;
    for (auto [key, field] : {std::pair{"transcriber", &config.transcriber}, std::pair{"locale", &config.locale}}) {
        const auto it = json.find(key);
        if (it == json.end() || it->is_null()) continue;
        if (!it->is_string()) return std::nullopt;
        *field = it->get<std::string>();
    }
    return config;
}

} // namespace

EngineConfig EngineConfig::resolve(const Overrides& overrides, const std::map<std::string, std::string>& environment,
                                   const std::optional<std::filesystem::path>& file)
{
    EngineConfig config;

    if (file) {
        if (const auto bytes = FileReader::readAll(*file)) {
            if (const auto fileConfig = decodeFileConfig(*bytes)) {
                if (fileConfig->transcriber) {
                    if (const auto kind = transcriberKindFromRawValue(*fileConfig->transcriber))
                        config.transcriber = *kind;
                }
                if (fileConfig->locale) config.locale = *fileConfig->locale;
            }
        }
    }

    if (const auto it = environment.find("TS_TRANSCRIBER"); it != environment.end()) {
        if (const auto kind = transcriberKindFromRawValue(it->second)) config.transcriber = *kind;
    }
    if (const auto it = environment.find("TS_LOCALE"); it != environment.end()) config.locale = it->second;

    if (overrides.transcriber) config.transcriber = *overrides.transcriber;
    if (overrides.locale) config.locale = *overrides.locale;
    return config;
}

std::optional<std::filesystem::path> EngineConfig::defaultConfigFileURL()
{
    // Without a home directory there is no trustworthy place to read from.
    return AppPaths::current().engineConfigFile();
}

std::optional<EngineConfig::TranscriberKind> EngineConfig::transcriberKindFromRawValue(const std::string& raw)
{
    if (raw == "speechAnalyzer") return TranscriberKind::speechAnalyzer;
    return std::nullopt;
}

std::string EngineConfig::rawValue(TranscriberKind kind)
{
    switch (kind) {
    case TranscriberKind::speechAnalyzer: return "speechAnalyzer";
    }
    return {};
}

std::vector<EngineConfig::TranscriberKind> EngineConfig::allTranscriberKinds()
{
    return {TranscriberKind::speechAnalyzer};
}

} // namespace tc
