#include "TranscriptionUI/settings/SettingsModel.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/ObservedValue.h"
#include "TranscriptionUI/presentation/SerialWorker.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <utility>

namespace tc {

namespace {

const QString kNotMeasured = QStringLiteral("未測定");

std::filesystem::path pathOf(const QString& file)
{
    return std::filesystem::path(file.toStdString());
}

} // namespace

SettingsModel::SettingsModel(PreferencesStore* preferences, Dependencies dependencies, QObject* parent)
    : QObject(parent), m_preferences(preferences), m_deps(std::move(dependencies)),
      m_hop(std::make_shared<MainThreadHop>(this)), m_worker(std::make_unique<SerialWorker>()), m_devices(preferences)
{
    // The window opens at once and the list follows: the installer's first listing runs a child process.
    struct Listings {
        std::vector<SpeechModelEntry> speech;
        std::vector<SpeechModelEntry> language;
        std::string device;
    };
    runOffMain<Listings>(
        *m_worker, m_hop,
        [speech = m_deps.speechModels, language = m_deps.languageModels,
         device = m_deps.speechDevice](std::stop_token) {
            // The device first: finding it opens the GPU once, and the measured speeds are kept per device.
            std::string label = device ? device() : std::string{};
            return Listings{speech ? speech() : std::vector<SpeechModelEntry>{},
                            language ? language() : std::vector<SpeechModelEntry>{}, std::move(label)};
        },
        [this](Listings listings) {
            m_speechDevice = QString::fromStdString(listings.device);
            showLanguageModels(listings.language);
            showSpeechModels(listings.speech);
        });
    connect(m_preferences, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == speechModelKey) refreshSpeechModels();
        if (key == languageModelKey) markChosenLanguageModel();
    });
}

SettingsModel::~SettingsModel()
{
    m_hop->close();
    m_worker.reset();
}

std::map<std::string, SpeechModelFigures> SettingsModel::readFigures(const std::filesystem::path& file)
{
    QFile stream(QString::fromStdString(file.string()));
    if (!stream.open(QIODevice::ReadOnly)) return {};
    const QJsonObject models =
        QJsonDocument::fromJson(stream.readAll()).object().value(QStringLiteral("models")).toObject();
    std::map<std::string, SpeechModelFigures> figures;
    for (auto it = models.begin(); it != models.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const auto cer = entry.value(QStringLiteral("cer"));
        const auto latency = entry.value(QStringLiteral("finalLatencySeconds"));
        if (!cer.isDouble() || !latency.isDouble()) continue;
        figures[it.key().toStdString()] = {cer.toDouble(), latency.toDouble()};
    }
    return figures;
}

QString SettingsModel::sizeText(std::uint64_t bytes)
{
    if (bytes == 0) return QStringLiteral("サイズ不明");
    const double megabytes = static_cast<double>(bytes) / 1e6;
    if (megabytes >= 1000) return QStringLiteral("%1 GB").arg(megabytes / 1000, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(megabytes, 0, 'f', 0);
}

// --- Speech models ---

void SettingsModel::refreshSpeechModels()
{
    // The first listing is still being read, and it is read after whatever changed.
    if (!m_speechModelsLoaded) return;
    showLanguageModels(m_deps.languageModels ? m_deps.languageModels() : std::vector<SpeechModelEntry>{});
    showSpeechModels(m_deps.speechModels ? m_deps.speechModels() : std::vector<SpeechModelEntry>{});
}

SettingsModel::SpeechModelRow SettingsModel::rowOf(const SpeechModelEntry& entry)
{
    SpeechModelRow row;
    row.name = QString::fromStdString(entry.name);
    row.fileName = QString::fromStdString(entry.fileName);
    row.size = sizeText(entry.bytes);
    row.installed = entry.installed;
    row.installable = entry.installable;
    row.verifiable = entry.verifiable;
    return row;
}

void SettingsModel::showSpeechModels(const std::vector<SpeechModelEntry>& entries)
{
    const QString chosen = chosenSpeechModel();
    std::vector<SpeechModelRow> rows;
    std::vector<ModelAdvisor::Candidate> candidates;
    std::vector<std::size_t> installedRows;
    for (const auto& entry : entries) {
        auto row = rowOf(entry);
        row.chosen = row.name == chosen;
        row.speed = row.accuracy = kNotMeasured;
        if (const auto found = m_deps.figures.find(entry.name); found != m_deps.figures.end()) {
            row.speed = QStringLiteral("確定まで約 %1 秒").arg(found->second.finalLatencySeconds, 0, 'f', 1);
            row.accuracy = QStringLiteral("文字誤り率 %1 %").arg(found->second.characterErrorRate * 100, 0, 'f', 1);
        }
        if (entry.installed) {
            candidates.push_back({entry.name, m_deps.measuredSpeed ? m_deps.measuredSpeed(entry.name) : std::nullopt});
            installedRows.push_back(rows.size());
        }
        rows.push_back(std::move(row));
    }
    // What this machine measured says more than the benchmark's figures from another.
    m_advice = ModelAdvisor::advise(candidates);
    for (std::size_t i = 0; i < installedRows.size(); ++i) {
        const auto& assessment = m_advice.models[i];
        if (assessment.verdict == ModelAdvisor::Verdict::unmeasured) continue;
        rows[installedRows[i]].speed = QStringLiteral("%1（%2）")
                                           .arg(QString::fromStdString(assessment.speedText),
                                                QString::fromStdString(ModelAdvisor::verdictText(assessment.verdict)));
    }
    m_speechModels = std::move(rows);
    m_speechModelsLoaded = true;
    Q_EMIT speechModelsChanged();
}

bool SettingsModel::measureSpeeds()
{
    if (m_measuring || !m_deps.measureSpeed) return false;
    std::vector<std::string> unmeasured;
    for (std::size_t i = 0; i < m_advice.models.size(); ++i)
        if (m_advice.models[i].verdict == ModelAdvisor::Verdict::unmeasured)
            unmeasured.push_back(m_advice.models[i].name);
    if (unmeasured.empty()) {
        setSpeechModelMessage(QStringLiteral("インストール済みのモデルはすべて測定済みです。"));
        return false;
    }
    m_measuring = true;
    setSpeechModelMessage(QStringLiteral("このPCでの速さを測っています（モデルごとに数秒から 1 分ほど）…"));
    Q_EMIT speechModelsChanged();
    runOffMain<std::vector<std::string>>(
        *m_worker, m_hop,
        [measure = m_deps.measureSpeed, unmeasured](std::stop_token stop) {
            std::vector<std::string> problems;
            for (const auto& name : unmeasured) {
                if (stop.stop_requested()) break;
                if (auto measured = measure(name); !measured) problems.push_back(measured.error());
            }
            return problems;
        },
        [this](std::vector<std::string> problems) {
            m_measuring = false;
            refreshSpeechModels();
            setSpeechModelMessage(problems.empty() ? QStringLiteral("速さを測りました。")
                                                   : QString::fromStdString(problems.front()));
        });
    return true;
}

QString SettingsModel::finalSpeechModel() const
{
    return m_preferences->value(finalSpeechModelKey).toString();
}

void SettingsModel::setTwoPasses(bool on)
{
    if (on && !m_advice.finalModel) {
        setSpeechModelMessage(QStringLiteral("このPCには 2 段階に向くモデルの組み合わせがありません。先に「速さを測る」"
                                             "を押すか、より精度の高いモデルをインストールしてください。"));
        return;
    }
    if (!on) {
        m_preferences->setValue(finalSpeechModelKey, QString());
        setSpeechModelMessage(
            QStringLiteral("確定行も %1 で読みます。次の文字起こしから使われます。").arg(chosenSpeechModel()));
        return;
    }
    const QString fast = QString::fromStdString(m_advice.recommended);
    const QString accurate = QString::fromStdString(*m_advice.finalModel);
    m_preferences->setValue(speechModelKey, fast);
    m_preferences->setValue(finalSpeechModelKey, accurate);
    setSpeechModelMessage(
        QStringLiteral("途中の文字は %1、確定行は %2 で読みます。次の文字起こしから使われます。").arg(fast, accurate));
}

QString SettingsModel::chosenSpeechModel() const
{
    const QString stored = m_preferences->value(speechModelKey).toString();
    return stored.isEmpty() ? QString::fromStdString(m_deps.defaultSpeechModel) : stored;
}

void SettingsModel::chooseSpeechModel(const QString& name)
{
    const auto row = std::find_if(m_speechModels.begin(), m_speechModels.end(),
                                  [&](const SpeechModelRow& r) { return r.name == name; });
    if (row == m_speechModels.end() || !row->installed) {
        setSpeechModelMessage(
            QStringLiteral("%1 はインストールされていません。先に「インストール」を押してください。").arg(name));
        return;
    }
    m_preferences->setValue(speechModelKey, name);
    setSpeechModelMessage(QStringLiteral("%1 を使います。次の文字起こしから使われます。").arg(name));
}

bool SettingsModel::installSpeechModel(const QString& name)
{
    if (!m_deps.installSpeechModel) return false;
    return startInstall(name, [&](auto onProgress, auto onDone) {
        return m_deps.installSpeechModel(name.toStdString(), std::move(onProgress), std::move(onDone));
    });
}

bool SettingsModel::installSpeechModelFrom(const QString& name, const QString& file)
{
    if (!m_deps.installSpeechModelFrom) return false;
    return startInstall(name, [&](auto onProgress, auto onDone) {
        return m_deps.installSpeechModelFrom(name.toStdString(), pathOf(file), std::move(onProgress),
                                             std::move(onDone));
    });
}

bool SettingsModel::startInstall(const QString& name, const InstallStart& start)
{
    if (!m_installing.isEmpty()) {
        setSpeechModelMessage(QStringLiteral("ほかのモデルをインストール中です。終わるまでお待ちください。"), name);
        return false;
    }
    // Callbacks come on the installer's thread: only the hop is touched there. A callback after this object is
    // gone finds the hop closed.
    auto onProgress = [hop = m_hop, this](const SpeechModelInstaller::Progress& progress) {
        hop->post([this, progress] {
            if (m_installing.isEmpty()) return;
            m_progress = progress;
            Q_EMIT installChanged();
        });
    };
    auto onDone = [hop = m_hop, this](const Expected<void, std::string>& outcome) {
        hop->post([this, outcome] { finishInstall(outcome); });
    };
    m_installing = name;
    m_progress = {};
    setSpeechModelMessage({});
    Q_EMIT installChanged();
    if (!start(onProgress, onDone)) {
        m_installing.clear();
        Q_EMIT installChanged();
        setSpeechModelMessage(QStringLiteral("ほかのモデルをインストール中です。終わるまでお待ちください。"), name);
        return false;
    }
    return true;
}

void SettingsModel::finishInstall(const Expected<void, std::string>& outcome)
{
    const QString name = m_installing;
    m_installing.clear();
    m_progress = {};
    Q_EMIT installChanged();
    refreshSpeechModels();
    if (!outcome)
        setSpeechModelMessage(QString::fromStdString(outcome.error()), name);
    else
        setSpeechModelMessage(QStringLiteral("%1 をインストールしました。「使用する」で選べます。").arg(name), name);
}

void SettingsModel::cancelInstall()
{
    if (m_installing.isEmpty() || !m_deps.cancelInstall) return;
    m_deps.cancelInstall();
}

void SettingsModel::removeSpeechModel(const QString& name)
{
    if (name == chosenSpeechModel()) {
        setSpeechModelMessage(
            QStringLiteral("%1 は使用中のため削除できません。先に別のモデルを「使用する」にしてください。").arg(name));
        return;
    }
    if (!m_deps.removeSpeechModel) return;
    const auto removed = m_deps.removeSpeechModel(name.toStdString());
    refreshSpeechModels();
    setSpeechModelMessage(removed ? QStringLiteral("%1 を削除しました。").arg(name)
                                  : QString::fromStdString(removed.error()));
}

void SettingsModel::setSpeechModelMessage(const QString& message, const QString& about)
{
    const bool language = std::any_of(m_languageModels.begin(), m_languageModels.end(),
                                      [&](const SpeechModelRow& row) { return !about.isEmpty() && row.name == about; });
    // The same text about another kind of model moves to the other page, so that is a change too.
    const bool kindChanged = std::exchange(m_messageAboutLanguage, language) != language;
    if (!assignObserved(this, m_speechModelMessage, message, &SettingsModel::speechModelMessageChanged) && kindChanged)
        Q_EMIT speechModelMessageChanged();
}

// --- Devices ---

std::vector<SettingsModel::DeviceChoice> SettingsModel::choicesFor(const std::vector<AudioDeviceInfo>& devices,
                                                                   const QString& stored)
{
    return DeviceChoiceLists::choicesFor(devices, stored);
}

void SettingsModel::refreshDevices()
{
    struct Devices {
        std::vector<AudioDeviceInfo> inputs;
        std::vector<AudioDeviceInfo> outputs;
    };
    runOffMain<Devices>(
        *m_worker, m_hop,
        [microphones = m_deps.microphones, outputs = m_deps.outputs](std::stop_token) {
            return Devices{microphones ? microphones() : std::vector<AudioDeviceInfo>{},
                           outputs ? outputs() : std::vector<AudioDeviceInfo>{}};
        },
        [this](Devices devices) {
            m_devices.show(devices.inputs, devices.outputs);
            Q_EMIT devicesChanged();
        });
}

int SettingsModel::microphoneIndex() const
{
    return m_devices.microphoneIndex();
}

int SettingsModel::outputIndex() const
{
    return m_devices.outputIndex();
}

void SettingsModel::chooseMicrophone(int index)
{
    m_devices.chooseMicrophone(index);
}

void SettingsModel::chooseOutput(int index)
{
    m_devices.chooseOutput(index);
}

// --- Language model ---

SettingsModel::LanguageModelState SettingsModel::languageModel() const
{
    const QString chosen = m_preferences->value(languageModelKey).toString();
    return LanguageModelFileReport::of(chosen.isEmpty() ? m_deps.defaultLanguageModelFile : pathOf(chosen),
                                       chosen.isEmpty());
}

void SettingsModel::showLanguageModels(const std::vector<SpeechModelEntry>& entries)
{
    std::vector<SpeechModelRow> rows;
    for (const auto& entry : entries)
        rows.push_back(rowOf(entry));
    m_languageModels = std::move(rows);
    markChosenLanguageModel();
}

void SettingsModel::markChosenLanguageModel()
{
    const auto chosen = pathOf(languageModel().file);
    for (auto& row : m_languageModels)
        row.chosen = m_deps.defaultLanguageModelFile.parent_path() / row.fileName.toStdString() == chosen;
    Q_EMIT languageModelChanged();
}

bool SettingsModel::installLanguageModel(const QString& name)
{
    if (!m_deps.installSpeechModel) return false;
    return startInstall(name, [&](auto onProgress, auto onDone) {
        return m_deps.installSpeechModel(name.toStdString(), std::move(onProgress), std::move(onDone));
    });
}

void SettingsModel::useLanguageModel(const QString& name)
{
    const auto row = std::find_if(m_languageModels.begin(), m_languageModels.end(),
                                  [&](const SpeechModelRow& r) { return r.name == name; });
    if (row == m_languageModels.end() || !row->installed) {
        setSpeechModelMessage(
            QStringLiteral("%1 はインストールされていません。先に「インストール」を押してください。").arg(name), name);
        return;
    }
    chooseLanguageModel(
        QString::fromStdString((m_deps.defaultLanguageModelFile.parent_path() / row->fileName.toStdString()).string()));
    setSpeechModelMessage(QStringLiteral("%1 を使います。次の質問から使われます。").arg(name), name);
}

void SettingsModel::chooseLanguageModel(const QString& file)
{
    m_preferences->setValue(languageModelKey, file);
}

void SettingsModel::resetLanguageModel()
{
    m_preferences->remove(languageModelKey);
}

// --- Caption panel ---

bool SettingsModel::showSpeaker() const
{
    return m_preferences->boolValue(showSpeakerKey, false);
}

void SettingsModel::setShowSpeaker(bool show)
{
    m_preferences->setBool(showSpeakerKey, show);
}

void SettingsModel::resetCaptionPosition()
{
    if (m_deps.resetCaptionPosition) m_deps.resetCaptionPosition();
}

// --- Data ---

QString SettingsModel::historyFolder() const
{
    return QString::fromStdString(m_deps.historyFolder.string());
}

std::size_t SettingsModel::sessionCount() const
{
    return m_deps.sessionCount ? m_deps.sessionCount() : 0;
}

} // namespace tc
