#include "TranscriptionUI/settings/CaptionPlacementSection.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace tc {

namespace {

using Controller = LiveCaptionOverlayController;

} // namespace

CaptionPlacementSection::CaptionPlacementSection(PreferencesStore* preferences, QWidget* parent)
    : QWidget(parent), m_preferences(preferences), m_placement(new QComboBox(this)), m_screen(new QComboBox(this)),
      m_clickThrough(new QCheckBox(QStringLiteral("クリックを透過"), this))
{
    m_placement->setObjectName(QStringLiteral("captionPlacement"));
    m_placement->addItem(QStringLiteral("自由に配置（ドラッグした場所）"),
                         Controller::placementName(Controller::Placement::floating));
    m_placement->addItem(QStringLiteral("画面の上端に固定"), Controller::placementName(Controller::Placement::top));
    m_placement->addItem(QStringLiteral("画面の下端に固定"), Controller::placementName(Controller::Placement::bottom));
    m_screen->setObjectName(QStringLiteral("captionScreen"));
    m_clickThrough->setObjectName(QStringLiteral("captionClickThrough"));
    auto* note = new QLabel(QStringLiteral("上端・下端に固定すると、最大化したウィンドウはその帯を空けます。"
                                           "クリックを透過している間は、パネル左上のボタン、「字幕」メニュー、"
                                           "Ctrl+Shift+T で元に戻せます。"),
                            this);
    note->setWordWrap(true);

    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(QStringLiteral("配置"), m_placement);
    form->addRow(QStringLiteral("画面"), m_screen);
    form->addRow(QString(), m_clickThrough);
    form->addRow(QString(), note);

    fillScreens();
    showChoices();
    connect(m_placement, &QComboBox::activated, this, [this](int index) {
        m_preferences->setValue(Controller::placementDefaultsKey, m_placement->itemData(index));
    });
    connect(m_screen, &QComboBox::activated, this,
            [this](int index) { m_preferences->setValue(Controller::screenDefaultsKey, m_screen->itemData(index)); });
    connect(m_clickThrough, &QCheckBox::toggled, this,
            [this](bool on) { m_preferences->setBool(Controller::clickThroughDefaultsKey, on); });
    connect(m_preferences, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == Controller::placementDefaultsKey || key == Controller::screenDefaultsKey ||
            key == Controller::clickThroughDefaultsKey)
            showChoices();
    });
    const auto refill = [this] {
        fillScreens();
        showChoices();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, refill);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, refill);
}

void CaptionPlacementSection::fillScreens()
{
    const QSignalBlocker quiet(m_screen);
    m_screen->clear();
    m_screen->addItem(QStringLiteral("メインの画面"), QString());
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const QString model = screen->model().isEmpty() ? screen->name() : screen->model();
        m_screen->addItem(QStringLiteral("%1（%2×%3）").arg(model).arg(geometry.width()).arg(geometry.height()),
                          screen->name());
    }
    m_screen->setEnabled(m_screen->count() > 2);
}

void CaptionPlacementSection::showChoices()
{
    const QSignalBlocker quietPlacement(m_placement);
    const QSignalBlocker quietScreen(m_screen);
    const QSignalBlocker quietClick(m_clickThrough);
    const QString placement = Controller::placementName(
        Controller::placementOf(m_preferences->value(Controller::placementDefaultsKey).toString()));
    m_placement->setCurrentIndex(std::max(0, m_placement->findData(placement)));
    m_screen->setCurrentIndex(
        std::max(0, m_screen->findData(m_preferences->value(Controller::screenDefaultsKey).toString())));
    m_clickThrough->setChecked(m_preferences->boolValue(Controller::clickThroughDefaultsKey, false));
}

} // namespace tc
