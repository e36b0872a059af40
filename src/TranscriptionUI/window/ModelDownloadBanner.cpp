#include "TranscriptionUI/window/ModelDownloadBanner.h"

#include "TranscriptionUI/presentation/ModelDownloadOffer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tc {

ModelDownloadBanner::ModelDownloadBanner(ModelDownloadOffer* offer, QWidget* parent)
    : QWidget(parent), m_offer(offer), m_message(new QLabel(this)), m_progress(new QProgressBar(this)),
      m_download(new QPushButton(QStringLiteral("ダウンロード"), this)),
      m_cancel(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setObjectName(QStringLiteral("modelDownloadBanner"));
    m_message->setObjectName(QStringLiteral("modelDownloadMessage"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_progress->setObjectName(QStringLiteral("modelDownloadProgress"));
    m_download->setObjectName(QStringLiteral("modelDownloadButton"));
    m_cancel->setObjectName(QStringLiteral("modelDownloadCancel"));
    m_download->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    m_cancel->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);

    auto* row = new QHBoxLayout;
    row->addWidget(m_progress, 1);
    // The buttons keep their own width; the bar, or the space it leaves while hidden, takes the rest.
    row->addStretch(0);
    row->addWidget(m_download);
    row->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->addWidget(m_message);
    layout->addLayout(row);

    connect(m_download, &QPushButton::clicked, m_offer, &ModelDownloadOffer::download);
    connect(m_cancel, &QPushButton::clicked, m_offer, &ModelDownloadOffer::cancel);
    connect(m_offer, &ModelDownloadOffer::changed, this, &ModelDownloadBanner::refresh);
    refresh();
}

void ModelDownloadBanner::refresh()
{
    using State = ModelDownloadOffer::State;
    const State state = m_offer->state();
    setVisible(state != State::idle);
    m_message->setText(m_offer->message());
    const bool downloading = state == State::downloading;
    m_progress->setVisible(downloading);
    const auto& progress = m_offer->progress();
    // A range of 0 shows a busy bar while the total is not known; kilobytes keep large files within int.
    m_progress->setRange(0, static_cast<int>(progress.total / 1024));
    m_progress->setValue(static_cast<int>(std::min(progress.done, progress.total) / 1024));
    m_download->setVisible(!downloading);
    m_download->setText(state == State::failed ? QStringLiteral("もう一度ダウンロード")
                                               : QStringLiteral("ダウンロード"));
    m_cancel->setVisible(downloading);
}

} // namespace tc
