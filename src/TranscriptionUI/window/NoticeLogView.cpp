#include "TranscriptionUI/window/NoticeLogView.h"

#include "TranscriptionUI/presentation/NoticeLog.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace tc {

NoticeLogView::NoticeLogView(NoticeLog& log, QWidget* parent) : QWidget(parent), m_notices(log)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(section::divider(this));
    auto* header = new QHBoxLayout();
    auto* title = new QLabel(QStringLiteral("ログ"), this);
    title->setFont(ViewStyle::caption(font()));
    title->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    QToolButton* copy = section::borderlessButton(QString(), QStringLiteral("コピー"), this);
    QToolButton* clear = section::borderlessButton(QString(), QStringLiteral("消去"), this);
    copy->setFont(ViewStyle::caption(font()));
    clear->setFont(ViewStyle::caption(font()));
    connect(copy, &QToolButton::clicked, this, [this] {
        QStringList lines;
        for (const auto& notice : m_notices.notices())
            lines << QString::fromStdString(notice);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(lines.join(QLatin1Char('\n')));
    });
    connect(clear, &QToolButton::clicked, this, [this] { m_notices.clear(); });
    header->addWidget(title);
    header->addWidget(copy);
    header->addWidget(clear);
    header->addStretch(1);
    layout->addLayout(header);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMaximumHeight(120);
    auto* notices = new QWidget(scroll);
    m_noticesLayout = new QVBoxLayout(notices);
    m_noticesLayout->setContentsMargins(0, 0, 0, 0);
    m_noticesLayout->setSpacing(2);
    scroll->setWidget(notices);
    layout->addWidget(scroll);

    connect(&m_notices, &NoticeLog::changed, this, &NoticeLogView::refresh);
    refresh();
}

void NoticeLogView::refresh()
{
    const auto& notices = m_notices.notices();
    setVisible(!notices.empty());
    section::clearLayout(m_noticesLayout);
    for (const auto& notice : notices) {
        auto* label = new QLabel(QString::fromStdString(notice), m_noticesLayout->parentWidget());
        label->setFont(ViewStyle::caption(font()));
        label->setStyleSheet(section::colorStyle(ViewStyle::orange()));
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_noticesLayout->addWidget(label);
    }
    m_noticesLayout->addStretch(1);
}

} // namespace tc
