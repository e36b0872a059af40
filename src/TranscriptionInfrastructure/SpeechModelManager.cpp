#include "TranscriptionInfrastructure/SpeechModelManager.h"

#include "TranscriptionInfrastructure/AppPaths.h"

#include <QCryptographicHash>
#include <QFile>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <system_error>

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

std::string textField(const nlohmann::json& entry, const char* key)
{
    const auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string{};
}

std::optional<SpeechModelInfo> modelFrom(const nlohmann::json& entry, const std::string& fallbackName)
{
    if (!entry.is_object()) return std::nullopt;
    SpeechModelInfo model;
    model.name = textField(entry, "name");
    if (model.name.empty()) model.name = fallbackName;
    model.fileName = textField(entry, "file");
    if (model.fileName.empty()) model.fileName = "ggml-" + model.name + ".bin";
    // Unknown checksums and sizes are null in the catalogue: such a model is listed but cannot be verified.
    model.sha1 = lowerHex(textField(entry, "sha1"));
    for (const char* key : {"bytes", "size"}) {
        if (const auto it = entry.find(key); it != entry.end() && it->is_number_unsigned())
            model.size = it->get<std::uint64_t>();
    }
    if (model.name.empty()) return std::nullopt;
    // A catalogue entry must never point outside the models folder.
    if (model.fileName.find('/') != std::string::npos || model.fileName.starts_with(".")) return std::nullopt;
    return model;
}

// Size and modification time in nanoseconds, the key under which a verdict is remembered.
std::optional<std::pair<std::uint64_t, std::int64_t>> stamp(const fs::path& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return std::nullopt;
    return std::pair{static_cast<std::uint64_t>(info.st_size),
                     static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

} // namespace

SpeechModelManager::SpeechModelManager() : SpeechModelManager(defaultModelsDirectory(), defaultCatalogueFile()) {}

SpeechModelManager::SpeechModelManager(fs::path modelsDirectory, fs::path catalogueFile)
    : m_modelsDirectory(std::move(modelsDirectory)), m_catalogueFile(std::move(catalogueFile))
{}

fs::path SpeechModelManager::defaultModelsDirectory()
{
    return AppPaths::current().modelsDirectory();
}

fs::path SpeechModelManager::defaultCatalogueFile()
{
    return AppPaths::current().catalogueFile();
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
    if (model.sha1.size() != 40) return false;
    const auto before = stamp(file);
    if (!before) return false;
    const auto [size, modified] = *before;
    if (model.size != 0 && size != model.size) return false;

    // The same record the install command keeps: {"file": {"bytes", "mtime_ns", "digest"}}.
    nlohmann::json cache = nlohmann::json::object();
    if (std::ifstream in(cacheFile()); in) {
        cache = nlohmann::json::parse(in, nullptr, false);
        if (!cache.is_object()) cache = nlohmann::json::object();
    }
    if (const auto it = cache.find(model.fileName); it != cache.end() && it->is_object()) {
        const auto field = [&](const char* key) { return it->contains(key) ? it->at(key) : nlohmann::json(); };
        if (field("bytes") == nlohmann::json(size) && field("mtime_ns") == nlohmann::json(modified) &&
            field("digest") == nlohmann::json(model.sha1))
            return true;
    }
    const auto sha1 = sha1Of(file);
    if (!sha1 || *sha1 != model.sha1) return false;
    // Only a verified file is remembered, and only if it did not change while it was read.
    if (stamp(file) != before) return true;
    cache[model.fileName] = {{"bytes", size}, {"mtime_ns", modified}, {"digest", *sha1}};
    const fs::path temporary = cacheFile().string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << cache.dump(1) << '\n';
        if (!out) return true;
    }
    std::error_code error;
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
    if (model->sha1.size() != 40)
        return "音声認識モデル「" + name + "」は確認用のチェックサムが分からないため使えません。別のモデル（" +
               defaultModelName() + " など）を指定してください。";
    if (!verify(*model, file))
        return "音声認識モデル「" + name + "」のファイル（" + file.string() + "）が壊れているため使えません。端末で " +
               installCommand(name) + " を実行して入れ直してください。";
    return file;
}

} // namespace tc
