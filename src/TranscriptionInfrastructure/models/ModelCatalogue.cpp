#include "TranscriptionInfrastructure/models/ModelCatalogue.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace tc {

namespace {

std::string textField(const nlohmann::json& object, const char* key)
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string{};
}

std::string lowerHex(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool isHex(const std::string& text, std::size_t length)
{
    return text.size() == length && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The entry's check: its own "check", else the section's "checksum" (catalogues before the per-model check), else
// whichever digest it gives.
ModelCheck checkOf(const nlohmann::json& entry, const std::string& sectionChecksum, std::string& digest)
{
    std::string kind = textField(entry, "check");
    if (kind.empty()) kind = sectionChecksum;
    if (kind.empty()) kind = textField(entry, "sha1").empty() ? "sha256" : "sha1";
    if (kind == "host-sha256") return ModelCheck::hostSha256;
    if (kind != "sha1" && kind != "sha256") return ModelCheck::none;
    digest = lowerHex(textField(entry, kind.c_str()));
    // A digest of the wrong length could never match: such a model is as good as unchecked.
    if (!isHex(digest, kind == "sha1" ? 40 : 64)) {
        digest.clear();
        return ModelCheck::none;
    }
    return kind == "sha1" ? ModelCheck::sha1 : ModelCheck::sha256;
}

std::optional<CatalogueModel> modelFrom(const nlohmann::json& entry, const std::string& sectionChecksum,
                                        bool sectionHost)
{
    if (!entry.is_object()) return std::nullopt;
    CatalogueModel model;
    model.name = textField(entry, "name");
    if (model.name.empty()) return std::nullopt;
    model.fileName = textField(entry, "file");
    if (model.fileName.empty()) model.fileName = "ggml-" + model.name + ".bin";
    // A catalogue entry must never point outside the models folder.
    if (model.fileName.find('/') != std::string::npos || model.fileName.starts_with(".")) return std::nullopt;
    for (const char* key : {"bytes", "size"})
        if (const auto it = entry.find(key); it != entry.end() && it->is_number_unsigned())
            model.bytes = it->get<std::uint64_t>();
    model.check = checkOf(entry, sectionChecksum, model.digest);
    model.downloadable = sectionHost || !textField(entry, "repo").empty();
    model.instructionTuned = entry.value("instruction_tuned", false);
    model.chatTemplate = entry.value("chat_template", false);
    return model;
}

} // namespace

ModelCatalogue::ModelCatalogue(std::filesystem::path file) : m_file(std::move(file))
{
    std::ifstream in(m_file);
    if (!in) return;
    const auto root = nlohmann::json::parse(in, nullptr, false);
    if (!root.is_object()) return;
    m_loaded = true;
    const auto readPart = [&](const char* key, Part& part) {
        const auto section = root.find(key);
        if (section == root.end() || !section->is_object()) return;
        part.defaultName = textField(*section, "default");
        const std::string checksum = textField(*section, "checksum");
        const auto download = section->find("download");
        const bool host = download != section->end() && download->is_object() && !textField(*download, "repo").empty();
        const auto models = section->find("models");
        if (models == section->end() || !models->is_array()) return;
        for (const auto& entry : *models)
            if (auto model = modelFrom(entry, checksum, host)) part.models.push_back(std::move(*model));
    };
    readPart("speech", m_speech);
    readPart("voice", m_voice);
    readPart("language", m_language);
}

const ModelCatalogue::Part& ModelCatalogue::part(Section section) const
{
    switch (section) {
    case Section::speech: return m_speech;
    case Section::voice: return m_voice;
    case Section::language: return m_language;
    }
    return m_speech;
}

const std::vector<CatalogueModel>& ModelCatalogue::models(Section section) const
{
    return part(section).models;
}

std::optional<CatalogueModel> ModelCatalogue::find(Section section, const std::string& name) const
{
    for (const auto& model : part(section).models)
        if (model.name == name) return model;
    return std::nullopt;
}

const std::string& ModelCatalogue::defaultName(Section section) const
{
    return part(section).defaultName;
}

std::optional<CatalogueModel> ModelCatalogue::defaultModel(Section section) const
{
    return find(section, part(section).defaultName);
}

} // namespace tc
