#include "TranscriptionUI/presentation/ModelDownloadOffer.h"

#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/ObservedValue.h"
#include "TranscriptionUI/presentation/SerialWorker.h"

#include <utility>

namespace tc {

namespace {

QString megabytes(std::uint64_t bytes)
{
    return QString::number((bytes + 999999) / 1000000);
}

} // namespace

ModelDownloadOffer::ModelDownloadOffer(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_deps(std::move(dependencies)), m_hop(std::make_shared<MainThreadHop>(this)),
      m_worker(std::make_unique<SerialWorker>())
{}

ModelDownloadOffer::~ModelDownloadOffer()
{
    m_hop->close();
    m_worker.reset();
    // A download left running would finish into a closed hop; stopping it keeps what arrived for next time.
    if (m_state == State::downloading) m_deps.cancel();
}

void ModelDownloadOffer::check(const std::string& modelName)
{
    if (m_state == State::downloading) return;
    using Verdict = std::pair<bool, std::uint64_t>;
    runOffMain<Verdict>(
        *m_worker, m_hop,
        [isReady = m_deps.isReady, downloadBytes = m_deps.downloadBytes, modelName](std::stop_token) {
            return Verdict{isReady(modelName), downloadBytes(modelName)};
        },
        [this, modelName](Verdict verdict) {
            if (m_state == State::downloading) return;
            m_modelName = modelName;
            m_bytes = verdict.second;
            if (verdict.first)
                setState(State::idle, {});
            else
                setState(State::offered, offerText());
        });
}

QString ModelDownloadOffer::offerText() const
{
    const QString size = m_bytes ? QStringLiteral("約 %1 MB").arg(megabytes(m_bytes)) : QStringLiteral("サイズ不明");
    return QStringLiteral("音声認識モデル「%1」がまだ使えません（未インストールか、ファイルが壊れています）。"
                          "「ダウンロード」を押すと、音声認識モデルと音声区間モデル（%2）を公式の配布元から"
                          "ダウンロードし、終わりしだい文字起こしを始めます。")
        .arg(QString::fromStdString(m_modelName), size);
}

void ModelDownloadOffer::download()
{
    if (m_state != State::offered && m_state != State::failed) return;
    m_cancelled = false;
    m_progress = {};
    // Callbacks come on the installer's thread: only the hop is touched there.
    auto onProgress = [hop = m_hop, this](const SpeechModelInstaller::Progress& progress) {
        hop->post([this, progress] {
            if (m_state != State::downloading) return;
            m_progress = progress;
            m_message = QStringLiteral("音声認識モデル「%1」: %2")
                            .arg(QString::fromStdString(m_modelName), QString::fromStdString(progress.phase));
            if (progress.total)
                m_message += QStringLiteral("（%1 / %2 MB）").arg(megabytes(progress.done), megabytes(progress.total));
            Q_EMIT changed();
        });
    };
    auto onDone = [hop = m_hop, this](const Expected<void, std::string>& outcome) {
        hop->post([this, outcome] { finish(outcome); });
    };
    setState(
        State::downloading,
        QStringLiteral("音声認識モデル「%1」のダウンロードを始めています…").arg(QString::fromStdString(m_modelName)));
    if (!m_deps.install(m_modelName, onProgress, onDone))
        setState(State::failed,
                 QStringLiteral("ほかのモデルをインストール中です。終わってから「もう一度ダウンロード」を"
                                "押してください。"));
}

void ModelDownloadOffer::cancel()
{
    if (m_state != State::downloading) return;
    m_cancelled = true;
    m_deps.cancel();
}

void ModelDownloadOffer::finish(const Expected<void, std::string>& outcome)
{
    m_progress = {};
    if (outcome) {
        setState(State::idle, {});
        Q_EMIT installed();
        return;
    }
    if (m_cancelled)
        setState(State::failed, QStringLiteral("ダウンロードを中止しました。ダウンロード済みの部分は残してあり、"
                                               "「もう一度ダウンロード」でその続きから再開できます。"));
    else
        setState(State::failed, QString::fromStdString(outcome.error()) +
                                    QStringLiteral("\n準備ができたら「もう一度ダウンロード」を押してください。"));
}

void ModelDownloadOffer::setState(State state, QString message)
{
    if (state == m_state && message == m_message) return;
    m_state = state;
    m_message = std::move(message);
    Q_EMIT changed();
}

} // namespace tc
