#include "TranscriptionUI/caption/LiveCaptionCommands.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace tc {

LiveCaptionCommands::LiveCaptionCommands(PreferencesStore* defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_toggle(new QAction(QStringLiteral("ライブ字幕オーバーレイを表示"), this))
{
    m_toggle->setCheckable(true);
    m_toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    m_toggle->setShortcutContext(Qt::ApplicationShortcut);
    m_toggle->setChecked(overlayVisible());
    connect(m_toggle, &QAction::triggered, this, [this](bool checked) { setOverlayVisible(checked); });
    connect(m_defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == LiveCaptionOverlayController::visibilityDefaultsKey) m_toggle->setChecked(overlayVisible());
    });
}

QMenu* LiveCaptionCommands::install(QMenuBar* menuBar)
{
    QMenu* menu = menuBar->addMenu(QStringLiteral("字幕"));
    menu->addAction(m_toggle);
    return menu;
}

bool LiveCaptionCommands::overlayVisible() const
{
    return m_defaults->boolValue(LiveCaptionOverlayController::visibilityDefaultsKey, false);
}

void LiveCaptionCommands::setOverlayVisible(bool visible)
{
    m_defaults->setBool(LiveCaptionOverlayController::visibilityDefaultsKey, visible);
}

} // namespace tc
