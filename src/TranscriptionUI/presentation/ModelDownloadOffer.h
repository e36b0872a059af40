#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tc {

class MainThreadHop;
class SerialWorker;

// The main window's offer to download the speech model the next run uses, the voice model with it, when that
// model is missing or fails its check: the offer with the download size, then progress, cancel and retry through
// the app's model installer. A failed or cancelled download keeps what arrived, and the next attempt continues
// from there. Main thread only; the check and the installer's callbacks reach it by one queued hop.
class ModelDownloadOffer : public QObject {
    Q_OBJECT
public:
    enum class State {
        idle,        // nothing to offer (not checked yet, or the model is in place)
        offered,     // the model is missing or damaged; the download waits for the user
        downloading, // the installer runs
        failed,      // the last attempt failed or was cancelled; message() says why and what to do
    };

    // Wired by the application or a test; all are required.
    struct Dependencies {
        // Whether the model's file is installed and passes its check; called on a worker thread (it may hash).
        std::function<bool(const std::string& name)> isReady;
        // SpeechModelInstaller::install's contract: callbacks on any thread, false when an install already runs.
        std::function<bool(const std::string& name, SpeechModelInstaller::ProgressCallback,
                           SpeechModelInstaller::DoneCallback)>
            install;
        std::function<void()> cancel;
        // What the download of the model, with the voice model, weighs in bytes; 0 when the catalogue does not say.
        std::function<std::uint64_t(const std::string& name)> downloadBytes;
    };

    explicit ModelDownloadOffer(Dependencies dependencies, QObject* parent = nullptr);
    ~ModelDownloadOffer() override;

    // Checks the model in the background and offers its download when it is missing or damaged; idle otherwise.
    void check(const std::string& modelName);
    // Starts (or retries) the download of the offered model.
    void download();
    // Stops a running download; what arrived is kept for the next attempt.
    void cancel();

    State state() const { return m_state; }
    const std::string& modelName() const { return m_modelName; }
    // The Japanese text the banner shows: the offer, the phase, or why it failed and what to do next.
    const QString& message() const { return m_message; }
    // The latest progress of a running download; zeros otherwise.
    const SpeechModelInstaller::Progress& progress() const { return m_progress; }

signals:
    void changed();
    // The model is installed and verified: transcription can start.
    void installed();

private:
    void setState(State state, QString message);
    void finish(const Expected<void, std::string>& outcome);
    QString offerText() const;

    Dependencies m_deps;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_worker;
    State m_state = State::idle;
    std::string m_modelName;
    std::uint64_t m_bytes = 0;
    QString m_message;
    SpeechModelInstaller::Progress m_progress;
    bool m_cancelled = false;
};

} // namespace tc
