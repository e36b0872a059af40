#include "TranscriptionUI/settings/CalendarSourcesSection.h"

#include "TranscriptionUI/settings/CalendarSourcesModel.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tc {

namespace {

QLabel* wrapped(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

CalendarSourcesSection::CalendarSourcesSection(CalendarSourcesModel* model, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("calendarSourcesSection"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrapped(QStringLiteral("サイドバーに予定を表示するカレンダーです。スイッチで表示するかどうかを"
                                             "切り替えられます。デスクトップのアカウント（Evolution や GNOME の"
                                             "オンラインアカウントで追加した Google、Microsoft 365、Nextcloud など）"
                                             "は自動で読み込まれます。"),
                          this));

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::StyledPanel);
    m_list = new QWidget(scroll);
    m_list->setObjectName(QStringLiteral("calendarSourceList"));
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(6, 6, 6, 6);
    scroll->setWidget(m_list);
    layout->addWidget(scroll, 1);

    auto* fileRow = new QHBoxLayout;
    auto* addFile = new QPushButton(QStringLiteral("ファイルを追加…"), this);
    addFile->setObjectName(QStringLiteral("addCalendarFile"));
    m_fileMode = new QComboBox(this);
    m_fileMode->setObjectName(QStringLiteral("calendarFileMode"));
    m_fileMode->addItem(QStringLiteral("コピーして取り込む"));
    m_fileMode->addItem(QStringLiteral("元の場所のまま読む（リンク）"));
    connect(addFile, &QPushButton::clicked, this, &CalendarSourcesSection::chooseFile);
    fileRow->addWidget(addFile);
    fileRow->addWidget(m_fileMode);
    fileRow->addStretch();
    layout->addLayout(fileRow);

    auto* subscribeRow = new QHBoxLayout;
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("calendarSubscriptionAddress"));
    m_address->setPlaceholderText(QStringLiteral("https://… または webcal://…（iCalendar の非公開アドレス）"));
    // The address grants reading the calendar: it is not shown to anyone looking over the shoulder once typed.
    m_address->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_subscribe = new QPushButton(QStringLiteral("購読を追加"), this);
    m_subscribe->setObjectName(QStringLiteral("addCalendarSubscription"));
    auto* refresh = new QPushButton(QStringLiteral("今すぐ更新"), this);
    refresh->setObjectName(QStringLiteral("refreshCalendarSubscriptions"));
    connect(m_subscribe, &QPushButton::clicked, this, [this] {
        if (m_address->text().trimmed().isEmpty()) return;
        m_model->addSubscription(m_address->text());
        m_address->clear();
    });
    connect(m_address, &QLineEdit::returnPressed, m_subscribe, &QPushButton::click);
    connect(refresh, &QPushButton::clicked, m_model, &CalendarSourcesModel::refreshSubscriptions);
    subscribeRow->addWidget(m_address, 1);
    subscribeRow->addWidget(m_subscribe);
    subscribeRow->addWidget(refresh);
    layout->addLayout(subscribeRow);
    layout->addWidget(wrapped(QStringLiteral("Google カレンダーでは「設定と共有」の「iCal 形式の非公開アドレス」、"
                                             "Outlook では「予定表の公開」の ICS のリンクを貼り付けます。"
                                             "アドレスはこのコンピュータの自分だけが読めるファイルに保存されます。"),
                          this));

    m_message = wrapped(QString(), this);
    m_message->setObjectName(QStringLiteral("calendarSourcesMessage"));
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_message);

    connect(m_model, &CalendarSourcesModel::rowsChanged, this, &CalendarSourcesSection::showRows);
    connect(m_model, &CalendarSourcesModel::messageChanged, this, &CalendarSourcesSection::showMessage);
    showRows();
    showMessage();
}

void CalendarSourcesSection::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_model->refresh();
}

void CalendarSourcesSection::showRows()
{
    section::clearLayout(m_listLayout);
    if (m_model->rows().empty()) {
        m_listLayout->addWidget(wrapped(QStringLiteral("読み込むカレンダーはまだありません。"), m_list));
    }
    for (const auto& row : m_model->rows()) {
        auto* item = new QWidget(m_list);
        item->setObjectName(QStringLiteral("calendarSource:%1").arg(row.id));
        auto* line = new QHBoxLayout(item);
        line->setContentsMargins(0, 2, 0, 2);
        auto* toggle = new QCheckBox(item);
        toggle->setObjectName(QStringLiteral("calendarSourceEnabled"));
        toggle->setChecked(row.enabled);
        toggle->setAccessibleName(QStringLiteral("%1 を表示").arg(row.name));
        connect(toggle, &QCheckBox::toggled, m_model, [this, id = row.id](bool on) { m_model->setEnabled(id, on); });
        line->addWidget(toggle, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        auto* name = new QLabel(QStringLiteral("<b>%1</b>　%2").arg(row.name.toHtmlEscaped(), row.kind), item);
        name->setObjectName(QStringLiteral("calendarSourceName"));
        texts->addWidget(name);
        auto* detail = new QLabel(row.detail, item);
        detail->setObjectName(QStringLiteral("calendarSourceDetail"));
        detail->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
        texts->addWidget(detail);
        if (!row.problem.isEmpty()) {
            auto* problem = wrapped(row.problem, item);
            problem->setObjectName(QStringLiteral("calendarSourceProblem"));
            problem->setStyleSheet(section::colorStyle(ViewStyle::orange()));
            texts->addWidget(problem);
        }
        line->addLayout(texts, 1);
        if (row.removable) {
            auto* remove = new QPushButton(QStringLiteral("削除"), item);
            remove->setObjectName(QStringLiteral("removeCalendarSource"));
            connect(remove, &QPushButton::clicked, m_model, [this, id = row.id] { m_model->remove(id); });
            line->addWidget(remove, 0, Qt::AlignTop);
        }
        m_listLayout->addWidget(item);
    }
    m_listLayout->addStretch(1);
}

void CalendarSourcesSection::showMessage()
{
    m_message->setText(m_model->message());
    m_message->setStyleSheet(m_model->messageIsProblem() ? section::colorStyle(ViewStyle::orange()) : QString());
}

void CalendarSourcesSection::chooseFile()
{
    // Qt's own dialog, as for the language model: the same everywhere, and a test can drive it. A new one each
    // time, in the folder of the last choice: a kept one would offer the last file again, ready to go in twice.
    auto* dialog = new QFileDialog(this, QStringLiteral("カレンダーのファイルを選ぶ"));
    dialog->setObjectName(QStringLiteral("calendarFileDialog"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(
        {QStringLiteral("iCalendar (*.ics *.ICS *.ical *.ifb)"), QStringLiteral("すべてのファイル (*)")});
    dialog->setDirectory(m_fileFolder.isEmpty() ? QDir::homePath() : m_fileFolder);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        m_fileFolder = QFileInfo(file).absolutePath();
        if (m_fileMode->currentIndex() == 1)
            m_model->linkFile(file);
        else
            m_model->importFile(file);
    });
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    dialog->open();
}

} // namespace tc
