#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

#include "TranscriptionInfrastructure/files/FileDescriptor.h"
#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/InstallerProcess.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <variant>

namespace tc {

namespace fs = std::filesystem;

namespace {

const std::string kCancelled = "キャンセルしました";

std::string systemError(int code)
{
    return std::strerror(code);
}

// The installer's lock for a model file (scripts/install-models: model_lock), held while any process installs it.
fs::path modelLockFile(const fs::path& modelsDirectory, const std::string& fileName)
{
    return modelsDirectory / ("." + fileName + ".lock");
}

// The file a speech or language model of the catalogue is installed as.
std::optional<std::string> catalogueFileName(const SpeechModelInstaller::Setup& setup, const std::string& modelName)
{
    const ModelCatalogue catalogue(setup.catalogue);
    for (const auto section : {ModelCatalogue::Section::speech, ModelCatalogue::Section::language})
        if (const auto model = catalogue.find(section, modelName)) return model->fileName;
    return std::nullopt;
}

// A killed installer could not remove its temporary file. Swept under the model's lock, as the installer sweeps, so
// that another process's install in progress keeps its own; when that lock is busy the next install sweeps instead.
void sweepKilledInstall(const SpeechModelInstaller::Setup& setup, const std::string& modelName)
{
    const auto fileName = catalogueFileName(setup, modelName);
    if (!fileName) return;
    const fs::path lockFile = modelLockFile(setup.modelsDirectory, *fileName);
    FileDescriptor lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return;
    const std::string prefix = "." + *fileName + ".";
    std::error_code error;
    for (fs::directory_iterator it(setup.modelsDirectory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".partial")) fs::remove(it->path(), error);
    }
}

std::string phaseText(const std::string& phase)
{
    static const std::map<std::string, std::string> texts{
        {"wait", "ほかのインストールの完了を待っています"},
        {"download", "ダウンロード中"},
        {"convert", "変換中"},
        {"copy", "コピー中"},
        {"verify", "検証中"},
        {"done", "完了"},
    };
    const auto it = texts.find(phase);
    return it == texts.end() ? std::string("インストール中") : it->second;
}

std::string lastLines(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

struct SpeechModelInstaller::State {
    Setup setup;
    mutable std::mutex mutex;
    bool installing = false;
    pid_t pid = -1;
    // A cancel that came while start() was still setting up.
    bool cancelPending = false;
    FileDescriptor wake;
    std::jthread worker;
    // A worker that started the next install from its own done callback; joined later.
    std::jthread finished;
    // Which models the installer has a source for, asked once.
    mutable std::mutex sourcesMutex;
    mutable std::optional<std::map<std::string, bool>> sources;

    void work(std::stop_token stop, const std::string& modelName, std::vector<std::string> arguments,
              ProgressCallback onProgress, DoneCallback onDone);
    std::map<std::string, bool> readSources() const;
};

SpeechModelInstaller::Setup SpeechModelInstaller::defaultSetup()
{
    const auto paths = AppPaths::current();
    return Setup{paths.modelInstallerFile(), paths.catalogueFile(), paths.modelsDirectory(), paths.cacheDirectory()};
}

SpeechModelInstaller::SpeechModelInstaller() : SpeechModelInstaller(defaultSetup()) {}

SpeechModelInstaller::SpeechModelInstaller(Setup setup) : m_state(std::make_unique<State>())
{
    m_state->setup = std::move(setup);
}

SpeechModelInstaller::~SpeechModelInstaller()
{
    // A done callback may have started the next install meanwhile.
    for (;;) {
        cancel();
        std::lock_guard lock(m_state->mutex);
        if (!m_state->worker.joinable()) break;
    }
    std::jthread finished;
    {
        std::lock_guard lock(m_state->mutex);
        finished = std::move(m_state->finished);
    }
}

const SpeechModelInstaller::Setup& SpeechModelInstaller::setup() const
{
    return m_state->setup;
}

std::map<std::string, bool> SpeechModelInstaller::State::readSources() const
{
    std::map<std::string, bool> result;
    auto started = InstallerProcess::start(setup.installer, setup.cacheDirectory,
                                           {"--catalogue", setup.catalogue.string(), "--list", "--json"});
    if (!started) return result;
    auto* child = &*started;
    std::string listing;
    child->drain([&](const std::string& line) { listing += line + '\n'; });
    if (child->reap() != 0) return result;
    const auto list = nlohmann::json::parse(listing, nullptr, false);
    if (!list.is_array()) return result;
    for (const auto& entry : list) {
        if (!entry.is_object()) continue;
        // The models' host or a registry package; "file" (a copy from elsewhere only) and "none" are not.
        const std::string source = entry.value("source", "");
        result[entry.value("name", "")] = source == "host" || source == "registry";
    }
    return result;
}

std::vector<SpeechModelEntry> SpeechModelInstaller::entries(ModelCatalogue::Section section) const
{
    std::map<std::string, bool> sources;
    {
        std::lock_guard lock(m_state->sourcesMutex);
        if (!m_state->sources) m_state->sources = m_state->readSources();
        sources = *m_state->sources;
    }
    const ModelCatalogue catalogue(m_state->setup.catalogue);
    std::vector<SpeechModelEntry> entries;
    for (const auto& model : catalogue.models(section)) {
        if (section == ModelCatalogue::Section::language && !model.instructionTuned) continue;
        std::error_code error;
        const auto source = sources.find(model.name);
        entries.push_back(SpeechModelEntry{model.name, model.fileName, model.bytes,
                                           fs::is_regular_file(m_state->setup.modelsDirectory / model.fileName, error),
                                           source != sources.end() && source->second,
                                           // A copy from elsewhere needs a digest known before it arrives.
                                           model.check == ModelCheck::sha1 || model.check == ModelCheck::sha256});
    }
    return entries;
}

std::vector<SpeechModelEntry> SpeechModelInstaller::models() const
{
    return entries(ModelCatalogue::Section::speech);
}

std::vector<SpeechModelEntry> SpeechModelInstaller::instructionTunedLanguageModels() const
{
    return entries(ModelCatalogue::Section::language);
}

bool SpeechModelInstaller::install(const std::string& modelName, ProgressCallback onProgress, DoneCallback onDone)
{
    return start(modelName, {}, std::move(onProgress), std::move(onDone));
}

bool SpeechModelInstaller::installFrom(const std::string& modelName, const fs::path& source,
                                       ProgressCallback onProgress, DoneCallback onDone)
{
    return start(modelName, {"--from", fs::absolute(source).string()}, std::move(onProgress), std::move(onDone));
}

bool SpeechModelInstaller::start(const std::string& modelName, std::vector<std::string> extraArguments,
                                 ProgressCallback onProgress, DoneCallback onDone)
{
    auto& state = *m_state;
    std::jthread previous;
    {
        std::lock_guard lock(state.mutex);
        if (state.installing) return false;
        state.installing = true;
        state.cancelPending = false;
        if (state.worker.get_id() == std::this_thread::get_id()) {
            // Called from the previous install's done callback: that thread cannot join itself.
            if (state.finished.joinable()) state.finished.join();
            state.finished = std::move(state.worker);
        } else {
            previous = std::move(state.worker);
        }
    }
    // Past its done callback already, but joined unlocked: that callback may still be asking isInstalling().
    if (previous.joinable()) previous.join();

    const bool language =
        ModelCatalogue(state.setup.catalogue).find(ModelCatalogue::Section::language, modelName).has_value();
    std::vector<std::string> arguments{"--progress-json", "--catalogue", state.setup.catalogue.string(), "--models-dir",
                                       state.setup.modelsDirectory.string()};
    if (language)
        arguments.insert(arguments.end(), {"--no-speech-model", "--language-model", modelName});
    else
        arguments.insert(arguments.end(), {"--speech-model", modelName, "--no-language-model"});
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::lock_guard lock(state.mutex);
    state.wake = FileDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    state.worker =
        std::jthread([&state, modelName, arguments = std::move(arguments), onProgress = std::move(onProgress),
                      onDone = std::move(onDone)](std::stop_token stop) mutable {
            state.work(stop, modelName, std::move(arguments), std::move(onProgress), std::move(onDone));
        });
    if (state.cancelPending) state.worker.request_stop();
    return true;
}

void SpeechModelInstaller::State::work(std::stop_token stop, const std::string& modelName,
                                       std::vector<std::string> arguments, ProgressCallback onProgress,
                                       DoneCallback onDone)
{
    const auto finish = [&](const Expected<void, std::string>& outcome) {
        {
            std::lock_guard lock(mutex);
            installing = false;
        }
        if (onDone) onDone(outcome);
    };
    const auto fail = [&](std::string reason) { finish(Unexpected{std::move(reason)}); };
    Expected<InstallerProcess, std::string> started = Unexpected{std::string(kCancelled)};
    int wakeFd = -1;
    {
        std::lock_guard lock(mutex);
        if (!stop.stop_requested()) {
            started = InstallerProcess::start(setup.installer, setup.cacheDirectory, arguments);
            if (started) {
                pid = started->pid();
                wakeFd = wake.get();
            }
        }
    }
    if (!started) return fail(started.error());
    InstallerProcess& child = *started;

    std::optional<std::string> reported;
    const std::string log = child.drain(
        [&](const std::string& line) {
            const auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_object()) return;
            const std::string phase = event.value("phase", "");
            if (phase == "error") {
                reported = event.value("message", "");
                return;
            }
            if (onProgress)
                onProgress(Progress{event.value("done", std::uint64_t{0}), event.value("total", std::uint64_t{0}),
                                    phaseText(phase)});
        },
        wakeFd);
    child.awaitExit();
    {
        std::lock_guard lock(mutex);
        pid = -1;
    }
    const int status = child.reap();
    if (status == 0) return finish({});
    if (status == 128 + SIGKILL) sweepKilledInstall(setup, modelName);
    if (stop.stop_requested()) return fail(kCancelled);
    if (reported && !reported->empty()) return fail(*reported);
    const std::string tail = lastLines(log);
    return fail("モデルのインストールに失敗しました（終了コード " + std::to_string(status) + "）。" +
                (tail.empty() ? std::string() : "\n" + tail));
}

void SpeechModelInstaller::cancel()
{
    auto& state = *m_state;
    std::unique_lock lock(state.mutex);
    if (state.installing) state.cancelPending = true;
    if (!state.worker.joinable()) return;
    state.worker.request_stop();
    if (state.pid > 0) {
        ::kill(-state.pid, SIGTERM);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(state.wake.get(), &one, sizeof one);
    }
    if (state.worker.get_id() == std::this_thread::get_id()) return;
    std::jthread worker = std::move(state.worker);
    lock.unlock();
    worker.join();
}

bool SpeechModelInstaller::isInstalling() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->installing;
}

Expected<void, std::string> SpeechModelInstaller::remove(const std::string& modelName)
{
    const auto refused = [](std::string reason) { return Unexpected{std::move(reason)}; };
    const SpeechModelManager manager(m_state->setup.modelsDirectory, m_state->setup.catalogue);
    const auto model = manager.find(modelName);
    if (!model) return refused("音声認識モデル「" + modelName + "」はありません。");
    const fs::path file = m_state->setup.modelsDirectory / model->fileName;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(file, error)))
        return refused("音声認識モデル「" + modelName + "」はインストールされていません。");
    const fs::path lockFile = modelLockFile(m_state->setup.modelsDirectory, model->fileName);
    FileDescriptor lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (lock && errno == EWOULDBLOCK)
            return refused("音声認識モデル「" + modelName + "」はインストール中のため削除できません。" +
                           "インストールが終わるか中止してから、もう一度お試しください。");
        return refused("音声認識モデル「" + modelName + "」を削除できません（" + lockFile.string() + ": " +
                       systemError(errno) + "）。フォルダーの権限を確認してください。");
    }
    if (::unlink(file.c_str()) != 0)
        return refused("音声認識モデル「" + modelName + "」（" + file.string() + "）を削除できません（" +
                       systemError(errno) + "）。フォルダーの権限を確認してください。");
    return {};
}

} // namespace tc
