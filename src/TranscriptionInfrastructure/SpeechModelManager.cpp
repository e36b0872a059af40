#include "TranscriptionInfrastructure/SpeechModelManager.h"

#include <QCryptographicHash>
#include <QFile>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>

#ifndef TC_DATA_DIR
#define TC_DATA_DIR "data"
#endif

namespace tc {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCacheName = ".verified.json";

std::string lowerHex(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::optional<SpeechModelInfo> modelFrom(const nlohmann::json& entry, const std::string& fallbackName)
{
    if (!entry.is_object()) return std::nullopt;
    SpeechModelInfo model;
    model.name = entry.value("name", fallbackName);
    model.fileName =
        entry.value("file", entry.value("fileName", entry.value("filename", "ggml-" + model.name + ".bin")));
    model.sha1 = lowerHex(entry.value("sha1", std::string{}));
    const auto size = entry.find("size") != entry.end() ? entry.find("size") : entry.find("bytes");
    if (size != entry.end() && size->is_number_unsigned()) model.size = size->get<std::uint64_t>();
    if (model.name.empty() || model.sha1.size() != 40) return std::nullopt;
    // A catalogue entry must never point outside the models folder.
    if (model.fileName.empty() || model.fileName.find('/') != std::string::npos || model.fileName.starts_with("."))
        return std::nullopt;
    return model;
}

std::int64_t modifiedTime(const fs::path& file, std::error_code& error)
{
    const auto time = fs::last_write_time(file, error);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

} // namespace

SpeechModelManager::SpeechModelManager() : SpeechModelManager(defaultModelsDirectory(), defaultCatalogueFile()) {}

SpeechModelManager::SpeechModelManager(fs::path modelsDirectory, fs::path catalogueFile)
    : m_modelsDirectory(std::move(modelsDirectory)), m_catalogueFile(std::move(catalogueFile))
{}

fs::path SpeechModelManager::defaultModelsDirectory()
{
    fs::path base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
        base = data;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    } else {
        base = fs::temp_directory_path();
    }
    return base / "transcription-corvane" / "models";
}

fs::path SpeechModelManager::defaultCatalogueFile()
{
    return fs::path(TC_DATA_DIR) / "models.json";
}

std::string SpeechModelManager::defaultModelName()
{
    return "base";
}

std::string SpeechModelManager::installCommand(const std::string& name)
{
    return "scripts/install-models --speech-model " + name;
}

std::vector<SpeechModelInfo> SpeechModelManager::catalogue() const
{
    std::ifstream in(m_catalogueFile);
    if (!in) return {};
    const nlohmann::json root = nlohmann::json::parse(in, nullptr, false);
    if (root.is_discarded()) return {};
    // Either a list of models, or an object holding one under "speech" / "whisper" / "models", or keyed by name.
    nlohmann::json list = root;
    for (const char* key : {"speech", "whisper", "models"}) {
        if (list.is_object() && list.contains(key)) list = list.at(key);
    }
    std::vector<SpeechModelInfo> models;
    if (list.is_array()) {
        for (const auto& entry : list) {
            if (auto model = modelFrom(entry, {})) models.push_back(std::move(*model));
        }
    } else if (list.is_object()) {
        for (const auto& [name, entry] : list.items()) {
            if (auto model = modelFrom(entry, name)) models.push_back(std::move(*model));
        }
    }
    return models;
}

std::optional<SpeechModelInfo> SpeechModelManager::find(const std::string& name) const
{
    for (auto& model : catalogue()) {
        if (model.name == name) return model;
    }
    return std::nullopt;
}

std::vector<std::string> SpeechModelManager::presentModels() const
{
    std::vector<std::string> names;
    for (const auto& model : catalogue()) {
        std::error_code error;
        if (fs::is_regular_file(m_modelsDirectory / model.fileName, error)) names.push_back(model.name);
    }
    return names;
}

std::optional<std::string> SpeechModelManager::sha1Of(const fs::path& file)
{
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&input)) return std::nullopt;
    return hash.result().toHex().toStdString();
}

fs::path SpeechModelManager::cacheFile() const
{
    return m_modelsDirectory / kCacheName;
}

bool SpeechModelManager::verify(const SpeechModelInfo& model, const fs::path& file)
{
    std::error_code error;
    const std::uint64_t size = fs::file_size(file, error);
    if (error) return false;
    if (model.size != 0 && size != model.size) return false;
    const std::int64_t modified = modifiedTime(file, error);
    if (error) return false;

    nlohmann::json cache = nlohmann::json::object();
    if (std::ifstream in(cacheFile()); in) {
        cache = nlohmann::json::parse(in, nullptr, false);
        if (!cache.is_object()) cache = nlohmann::json::object();
    }
    if (const auto it = cache.find(model.fileName); it != cache.end() && it->is_object()) {
        if (it->value("size", std::uint64_t{0}) == size && it->value("modified", std::int64_t{0}) == modified &&
            it->value("sha1", std::string{}) == model.sha1)
            return true;
    }
    const auto sha1 = sha1Of(file);
    if (!sha1 || *sha1 != model.sha1) return false;
    // Only a verified file is remembered; a damaged one is checked again next time, after it may be replaced.
    cache[model.fileName] = {{"size", size}, {"modified", modified}, {"sha1", *sha1}};
    const fs::path temporary = cacheFile().string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << cache.dump(2) << '\n';
        if (!out) return true;
    }
    fs::rename(temporary, cacheFile(), error);
    return true;
}

SpeechModelManager::Lookup SpeechModelManager::locate(const std::string& name)
{
    const auto models = catalogue();
    if (models.empty())
        return "音声認識モデルの一覧（" + m_catalogueFile.string() +
               "）を読み込めませんでした。scripts/setup を実行してから、もう一度お試しください。";
    const SpeechModelInfo* model = nullptr;
    std::string known;
    for (const auto& candidate : models) {
        if (candidate.name == name) model = &candidate;
        known += (known.empty() ? "" : ", ") + candidate.name;
    }
    if (!model) return "音声認識モデル「" + name + "」はありません。次のいずれかを指定してください: " + known;
    const fs::path file = m_modelsDirectory / model->fileName;
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return "音声認識モデル「" + name + "」がインストールされていません。端末で " + installCommand(name) +
               " を実行してから、もう一度お試しください。";
    std::lock_guard lock(m_mutex);
    if (!verify(*model, file))
        return "音声認識モデル「" + name + "」のファイル（" + file.string() + "）が壊れているため使えません。端末で " +
               installCommand(name) + " を実行して入れ直してください。";
    return file;
}

} // namespace tc
