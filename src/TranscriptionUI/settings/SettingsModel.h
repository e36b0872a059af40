#pragma once

#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"
#include "TranscriptionInfrastructure/speech/ModelAdvisor.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/presentation/SourceAccess.h"
#include "TranscriptionUI/settings/DeviceChoiceLists.h"
#include "TranscriptionUI/settings/LanguageModelFileReport.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class CalendarSources;
class MainThreadHop;
class PreferencesStore;
class SerialWorker;

// A speech model's figures measured by the recognition benchmark (data/speech-model-figures.json).
struct SpeechModelFigures {
    double characterErrorRate = 0;
    // Median time from the end of a sentence to its final line.
    double finalLatencySeconds = 0;
};

// What the settings window shows and changes, without widgets: the speech models and their installation, the
// language model file, the capture devices, the caption panel and the history folder. Every choice is written
// to the preferences at once. Installer and device callbacks reach it by one queued hop. Main thread only.
class SettingsModel : public QObject {
    Q_OBJECT
public:
    static inline const QString speechModelKey = QString(settingKeys::speechModel);
    // Two passes: the model finals are decoded with; empty or absent for one pass.
    static inline const QString finalSpeechModelKey = QString(settingKeys::finalSpeechModel);
    static inline const QString languageModelKey = QString(settingKeys::languageModelPath);
    // The readers own these keys; the settings only write them.
    static inline const QString& microphoneKey = SourceAccess::microphoneDeviceKey;
    static inline const QString& systemAudioKey = SourceAccess::systemAudioDeviceKey;
    static inline const QString& showSpeakerKey = LiveCaptionOverlayController::showSpeakerDefaultsKey;

    // Everything the settings read and act on; wired by the application or a test. Empty functions do
    // nothing (lists stay empty).
    struct Dependencies {
        // Called on a worker thread the first time (the installer's first listing runs a child process).
        std::function<std::vector<SpeechModelEntry>()> speechModels;
        // The catalogue's instruction-tuned language models, likewise.
        std::function<std::vector<SpeechModelEntry>()> languageModels;
        // SpeechModelInstaller::install's contract (a speech or a language model's name): callbacks on any thread,
        // false when one already runs.
        std::function<bool(const std::string& name, SpeechModelInstaller::ProgressCallback,
                           SpeechModelInstaller::DoneCallback)>
            installSpeechModel;
        // SpeechModelInstaller::installFrom's contract, likewise.
        std::function<bool(const std::string& name, const std::filesystem::path& file,
                           SpeechModelInstaller::ProgressCallback, SpeechModelInstaller::DoneCallback)>
            installSpeechModelFrom;
        std::function<void()> cancelInstall;
        std::function<Expected<void, std::string>(const std::string& name)> removeSpeechModel;
        std::string defaultSpeechModel;
        std::map<std::string, SpeechModelFigures> figures;
        // Where speech is decoded ("GPU (...)", "CPU"); called once, on a worker thread, before the first listing.
        std::function<std::string()> speechDevice;
        // The speed measured here for an installed model; nothing while unmeasured.
        std::function<std::optional<ModelSpeed>(const std::string& name)> measuredSpeed;
        // Measures an installed model's speed (on a worker thread; seconds to a minute each): done, or the
        // Japanese reason.
        std::function<Expected<void, std::string>(const std::string& name)> measureSpeed;
        // Called on a worker thread: they may block for a while.
        std::function<std::vector<AudioDeviceInfo>()> microphones;
        std::function<std::vector<AudioDeviceInfo>()> outputs;
        // The language model used when none is chosen.
        std::filesystem::path defaultLanguageModelFile;
        std::filesystem::path historyFolder;
        std::function<std::size_t()> sessionCount;
        std::function<void()> resetCaptionPosition;
        // The calendars the sidebar reads, for the "カレンダー" page; null: the page lists nothing.
        std::shared_ptr<CalendarSources> calendarSources;
    };

    // The figures in a speech-model-figures.json file; empty when it cannot be read.
    static std::map<std::string, SpeechModelFigures> readFigures(const std::filesystem::path& file);

    struct SpeechModelRow {
        QString name;
        // "ggml-small.bin"
        QString fileName;
        QString size;
        QString speed;
        QString accuracy;
        bool installed = false;
        bool installable = false;
        // A copy from elsewhere can be checked and installed (the catalogue gives its checksum).
        bool verifiable = false;
        // The model the next run uses.
        bool chosen = false;
    };

    using DeviceChoice = DeviceChoiceLists::Choice;

    using LanguageModelState = LanguageModelFileReport::State;

    SettingsModel(PreferencesStore* preferences, Dependencies dependencies, QObject* parent = nullptr);
    ~SettingsModel() override;

    // --- Speech models ---
    const std::vector<SpeechModelRow>& speechModels() const { return m_speechModels; }
    // False until the first listing, read in the background, has arrived.
    bool speechModelsLoaded() const { return m_speechModelsLoaded; }
    // Re-reads the catalogue and what is installed (once the first listing has arrived).
    void refreshSpeechModels();
    QString chosenSpeechModel() const;
    // Writes "speech/model" for the next run; an uninstalled model is refused with a message.
    void chooseSpeechModel(const QString& name);
    // Starts installing; false (with a message) when another install runs.
    bool installSpeechModel(const QString& name);
    // Like installSpeechModel, from a model file the user obtained; the installer checks it against the catalogue.
    bool installSpeechModelFrom(const QString& name, const QString& file);
    void cancelInstall();
    // The model in use is not removed; say so instead.
    void removeSpeechModel(const QString& name);
    // The model being installed; empty when none.
    const QString& installingModel() const { return m_installing; }
    const SpeechModelInstaller::Progress& installProgress() const { return m_progress; }
    // The outcome of the last action on speech models, for the user; empty when nothing to say.
    const QString& speechModelMessage() const { return m_speechModelMessage; }
    // Whether the message is about a language model: it is shown on that page, not under the speech models.
    bool messageIsAboutLanguageModel() const { return m_messageAboutLanguage; }
    // "GPU (AMD Radeon RX 6600)" or "CPU"; empty until known.
    const QString& speechDevice() const { return m_speechDevice; }
    // Which installed model suits this machine, from the speeds measured here.
    const ModelAdvisor::Advice& modelAdvice() const { return m_advice; }
    // Measures every installed model not yet measured, one after another, in the background; speechModelsChanged
    // follows each. False while a measurement runs.
    bool measureSpeeds();
    bool measuringSpeeds() const { return m_measuring; }
    // The model finals are decoded with when two passes are on; empty for one pass.
    QString finalSpeechModel() const;
    // Two passes with the advised accurate model, or one pass; for the next run.
    void setTwoPasses(bool on);

    // --- Devices ---
    // Reads the sound server's devices in the background; devicesChanged follows.
    void refreshDevices();
    const std::vector<DeviceChoice>& microphoneChoices() const { return m_devices.microphones(); }
    const std::vector<DeviceChoice>& outputChoices() const { return m_devices.outputs(); }
    // The stored choice's index in its list.
    int microphoneIndex() const;
    int outputIndex() const;
    void chooseMicrophone(int index);
    void chooseOutput(int index);
    // DeviceChoiceLists::choicesFor.
    static std::vector<DeviceChoice> choicesFor(const std::vector<AudioDeviceInfo>& devices, const QString& stored);

    // --- Language model ---
    LanguageModelState languageModel() const;
    void chooseLanguageModel(const QString& file);
    void resetLanguageModel();
    // The catalogue's instruction-tuned models (empty until the first listing); chosen: the file in use.
    const std::vector<SpeechModelRow>& installableLanguageModels() const { return m_languageModels; }
    // Starts installing one of them, with the speech models' installer and its progress and messages.
    bool installLanguageModel(const QString& name);
    // Uses an installed one for the next question.
    void useLanguageModel(const QString& name);

    // --- Caption panel ---
    // The store the caption sections read and write their choices in.
    PreferencesStore* preferences() const { return m_preferences; }
    bool showSpeaker() const;
    void setShowSpeaker(bool show);
    void resetCaptionPosition();

    // --- Data ---
    QString historyFolder() const;
    std::size_t sessionCount() const;

    // --- Calendars ---
    const std::shared_ptr<CalendarSources>& calendarSources() const { return m_deps.calendarSources; }

    // "148 MB", "1.6 GB"; "サイズ不明" for 0.
    static QString sizeText(std::uint64_t bytes);
    static SpeechModelRow rowOf(const SpeechModelEntry& entry);

signals:
    void speechModelsChanged();
    void installChanged();
    void speechModelMessageChanged();
    void devicesChanged();
    void languageModelChanged();

private:
    using InstallStart =
        std::function<bool(SpeechModelInstaller::ProgressCallback, SpeechModelInstaller::DoneCallback)>;
    bool startInstall(const QString& name, const InstallStart& start);
    void showSpeechModels(const std::vector<SpeechModelEntry>& entries);
    void showLanguageModels(const std::vector<SpeechModelEntry>& entries);
    void markChosenLanguageModel();
    // about: the model the message concerns, when there is one.
    void setSpeechModelMessage(const QString& message, const QString& about = {});
    void finishInstall(const Expected<void, std::string>& outcome);

    PreferencesStore* m_preferences;
    Dependencies m_deps;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_worker;
    std::vector<SpeechModelRow> m_speechModels;
    std::vector<SpeechModelRow> m_languageModels;
    bool m_speechModelsLoaded = false;
    QString m_installing;
    SpeechModelInstaller::Progress m_progress;
    QString m_speechModelMessage;
    bool m_messageAboutLanguage = false;
    QString m_speechDevice;
    ModelAdvisor::Advice m_advice;
    bool m_measuring = false;
    DeviceChoiceLists m_devices;
};

} // namespace tc
