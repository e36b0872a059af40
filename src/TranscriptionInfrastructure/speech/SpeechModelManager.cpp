#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <QCryptographicHash>
#include <QFile>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tc {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCacheName = ".verified.json";

// A file's digest as lower-case hexadecimal; nothing when it cannot be read.
std::optional<std::string> digestOf(const fs::path& file, QCryptographicHash::Algorithm algorithm)
{
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) return std::nullopt;
    QCryptographicHash hash(algorithm);
    if (!hash.addData(&input)) return std::nullopt;
    return hash.result().toHex().toStdString();
}

// Size, modification and change time in nanoseconds: the key under which a verdict is remembered. The change
// time cannot be set back by hand, so bytes changed in place with the old modification time restored still
// make a new key.
struct Stamp {
    std::uint64_t bytes = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    friend bool operator==(const Stamp&, const Stamp&) = default;
};

std::optional<Stamp> stamp(const fs::path& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return std::nullopt;
    return Stamp{static_cast<std::uint64_t>(info.st_size),
                 static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                 static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

std::string quoted(const std::string& path)
{
    if (path.find_first_of(" '\"$`\\") == std::string::npos) return path;
    std::string text = "'";
    for (char c : path)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

} // namespace

SpeechModelManager::SpeechModelManager() : SpeechModelManager(defaultModelsDirectory(), defaultCatalogueFile()) {}

SpeechModelManager::SpeechModelManager(fs::path modelsDirectory, fs::path catalogueFile)
    : m_modelsDirectory(std::move(modelsDirectory)), m_catalogueFile(catalogueFile),
      m_catalogue(std::move(catalogueFile))
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
    // The installer this program really has (build tree or installed prefix), so the command works as printed.
    return "python3 " + quoted(AppPaths::current().modelInstallerFile().string()) + " --speech-model " + name;
}

Expected<void, WhisperModelFileCheck::Failure> SpeechModelManager::accessProblem(const fs::path& file)
{
    using Problem = WhisperModelFileCheck::Problem;
    const auto refused = [](Problem problem) { return Unexpected{WhisperModelFileCheck::Failure{problem, {}}}; };
    // Non-blocking: a named pipe in the model's place is refused, not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int cause = errno;
        struct stat info {};
        if (cause == ENOENT || cause == ENOTDIR) return refused(Problem::missing);
        if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return refused(Problem::notAFile);
        return refused(Problem::unreadable);
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) return refused(Problem::notAFile);
    return {};
}

const std::vector<CatalogueModel>& SpeechModelManager::catalogue() const
{
    return m_catalogue.models(ModelCatalogue::Section::speech);
}

std::optional<CatalogueModel> SpeechModelManager::find(const std::string& name) const
{
    return m_catalogue.find(ModelCatalogue::Section::speech, name);
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
    return digestOf(file, QCryptographicHash::Sha1);
}

std::optional<SpeechModelManager::VoiceModelEntry> SpeechModelManager::voiceModelEntry() const
{
    const auto model = m_catalogue.defaultModel(ModelCatalogue::Section::voice);
    // Small enough to hash on every check, so only a SHA-256 in the catalogue will do.
    if (!model || model->check != ModelCheck::sha256) return std::nullopt;
    return VoiceModelEntry{m_modelsDirectory / model->fileName, model->digest};
}

std::optional<fs::path> SpeechModelManager::voiceModelFile() const
{
    const auto entry = voiceModelEntry();
    return entry ? std::optional(entry->file) : std::nullopt;
}

std::optional<fs::path> SpeechModelManager::voiceModel() const
{
    const auto entry = voiceModelEntry();
    if (!entry || digestOf(entry->file, QCryptographicHash::Sha256) != entry->sha256) return std::nullopt;
    return entry->file;
}

std::string SpeechModelManager::voiceModelMessage(const std::string& speechModelName, const fs::path& file,
                                                  const std::optional<std::string>& installFailure)
{
    std::string failure;
    if (installFailure) {
        std::string reason = installFailure->substr(0, installFailure->find('\n'));
        if (reason.ends_with("。")) reason.resize(reason.size() - std::string_view("。").size());
        failure = "入れ直しにも失敗しました（" + reason + "）。";
    }
    return "音声区間モデル（" + file.string() + "）を読み込めません。" + failure +
           "音の大きさだけで発話を区切ります。端末で " + installCommand(speechModelName) +
           " を実行すると入れ直せます。";
}

std::string SpeechModelManager::voiceModelReinstallNotice(const fs::path& file)
{
    std::error_code error;
    return "音声区間モデル（" + file.string() + "）が" + (fs::exists(file, error) ? "壊れている" : "見つからない") +
           "ため、入れ直しています…";
}

fs::path SpeechModelManager::cacheFile() const
{
    return m_modelsDirectory / kCacheName;
}

bool SpeechModelManager::verify(const CatalogueModel& model, const fs::path& file)
{
    if (model.check == ModelCheck::none) return false;
    const auto before = stamp(file);
    if (!before) return false;
    if (model.bytes != 0 && before->bytes != model.bytes) return false;

    // The install command keeps the same record: {"file": {"bytes", "mtime_ns", "ctime_ns", "digest"}}. A record
    // without the change time is from before it was kept and is checked once more.
    nlohmann::json cache = nlohmann::json::object();
    if (std::ifstream in(cacheFile()); in) {
        cache = nlohmann::json::parse(in, nullptr, false);
        if (!cache.is_object()) cache = nlohmann::json::object();
    }
    std::string digest = model.digest;
    if (model.check == ModelCheck::hostSha256) {
        // What the host reported when the installer downloaded the file; without it nothing can vouch for it.
        const auto it = cache.find(model.fileName);
        if (it == cache.end() || !it->is_object() || !it->contains("digest") || !(*it)["digest"].is_string())
            return false;
        digest = (*it)["digest"].get<std::string>();
        if (digest.size() != 64) return false;
    }
    const nlohmann::json record = {{"bytes", before->bytes},
                                   {"mtime_ns", before->modified},
                                   {"ctime_ns", before->changed},
                                   {"digest", digest}};
    if (const auto it = cache.find(model.fileName); it != cache.end() && *it == record) return true;
    const auto actual =
        digestOf(file, model.check == ModelCheck::sha1 ? QCryptographicHash::Sha1 : QCryptographicHash::Sha256);
    if (!actual || *actual != digest) return false;
    // Only a verified file is remembered, and only if it did not change while it was read.
    if (stamp(file) != before) return true;
    cache[model.fileName] = record;
    // Unwritten, the file is only checked again next time.
    (void)AtomicFileWriter::write(cacheFile(), cache.dump(1) + "\n", 0644);
    return true;
}

bool SpeechModelManager::isVerified(const std::string& name)
{
    return locate(name).has_value();
}

std::string SpeechModelManager::problemMessage(const std::string& name, const fs::path& file,
                                               const WhisperModelFileCheck::Failure& failure)
{
    using Problem = WhisperModelFileCheck::Problem;
    const std::string model = "音声認識モデル「" + name + "」";
    const std::string reinstall = "「設定…」の音声認識モデルから入れ直すか、端末で " + installCommand(name) +
                                  " を実行してください。";
    switch (failure.problem) {
    case Problem::missing:
        return model + "がインストールされていません（" + file.string() + "）。「設定…」の音声認識モデルからインストールするか、端末で " +
               installCommand(name) + " を実行してから、もう一度お試しください。";
    case Problem::notAFile:
        return model + "の場所（" + file.string() + "）にあるのはファイルではありません。それを取り除いてから、" +
               reinstall;
    case Problem::unreadable:
        return model + "のファイル（" + file.string() +
               "）を読み取る権限がありません。ファイルとフォルダーの所有者と権限を確認し、読み取りを許可してください（"
               "例: "
               "chmod a+r " +
               quoted(file.string()) + "）。";
    case Problem::damaged:
        return model + "のファイル（" + file.string() + "）が壊れているため使えません" +
               (failure.reason.empty() ? std::string() : "（" + failure.reason + "）") + "。" + reinstall;
    case Problem::unsupported:
        return model + "のファイル（" + file.string() + "）は対応していない形式です（" + failure.reason + "）。" +
               reinstall;
    }
    return {};
}

std::string SpeechModelManager::memoryMessage(const std::string& name, const fs::path& file, std::uint64_t needed,
                                              std::uint64_t available)
{
    const auto megabytes = [](std::uint64_t bytes) { return std::to_string((bytes + 999999) / 1000000); };
    return "音声認識モデル「" + name + "」（" + file.string() + "）を読み込むにはメモリが足りません（必要 約 " +
           megabytes(needed) + " MB、空き 約 " + megabytes(available) +
           " MB）。ほかのアプリを閉じるか、小さいモデル（tiny など）を選んでから、もう一度お試しください。";
}

std::string SpeechModelManager::modelNameOf(const fs::path& file)
{
    std::string name = file.filename().string();
    if (name.starts_with("ggml-")) name.erase(0, 5);
    if (name.ends_with(".bin")) name.erase(name.size() - 4);
    return name;
}

SpeechModelManager::Lookup SpeechModelManager::locate(const std::string& name)
{
    const auto& models = catalogue();
    // A message is a path too: every refusal is spelled out as one, never returned bare.
    const auto refused = [](std::string message) -> Lookup { return Unexpected{std::move(message)}; };
    if (models.empty())
        return refused("音声認識モデルの一覧（" + m_catalogueFile.string() +
                       "）を読み込めませんでした。scripts/setup を実行してから、もう一度お試しください。");
    const CatalogueModel* model = nullptr;
    std::string known;
    for (const auto& candidate : models) {
        if (candidate.name == name) model = &candidate;
        known += (known.empty() ? "" : ", ") + candidate.name;
    }
    if (!model) return refused("音声認識モデル「" + name + "」はありません。次のいずれかを指定してください: " + known);
    const fs::path file = m_modelsDirectory / model->fileName;
    if (const auto access = accessProblem(file); !access) return refused(problemMessage(name, file, access.error()));
    std::lock_guard lock(m_mutex);
    if (model->check == ModelCheck::none)
        return refused("音声認識モデル「" + name + "」は確認用のチェックサムが分からないため使えません。別のモデル（" +
                       defaultModelName() + " など）を指定してください。");
    if (!verify(*model, file))
        return refused(problemMessage(
            name, file,
            WhisperModelFileCheck::Failure{WhisperModelFileCheck::Problem::damaged,
                                           model->check == ModelCheck::hostSha256
                                               ? "ダウンロード時に配布元が示したチェックサムと一致しません"
                                               : "チェックサムが一致しません"}));
    return file;
}

} // namespace tc
