#include "TranscriptionUI/caption/LiveCaptionCommands.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace tc {

LiveCaptionCommands::LiveCaptionCommands(PreferencesStore* defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_toggle(new QAction(QStringLiteral("ライブ字幕オーバーレイを表示"), this)),
      m_clickThrough(new QAction(QStringLiteral("クリックを透過"), this))
{
    m_toggle->setCheckable(true);
    m_toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    m_toggle->setShortcutContext(Qt::ApplicationShortcut);
    m_toggle->setChecked(overlayVisible());
    connect(m_toggle, &QAction::triggered, this, [this](bool checked) { setOverlayVisible(checked); });
    // Clicks passing through the panel cannot reach its own menu; this item turns that off from the main window.
    m_clickThrough->setCheckable(true);
    m_clickThrough->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    m_clickThrough->setShortcutContext(Qt::ApplicationShortcut);
    m_clickThrough->setChecked(m_defaults->boolValue(LiveCaptionOverlayController::clickThroughDefaultsKey, false));
    connect(m_clickThrough, &QAction::triggered, this, [this](bool checked) {
        m_defaults->setBool(LiveCaptionOverlayController::clickThroughDefaultsKey, checked);
    });
    connect(m_defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == LiveCaptionOverlayController::visibilityDefaultsKey) m_toggle->setChecked(overlayVisible());
        if (key == LiveCaptionOverlayController::clickThroughDefaultsKey)
            m_clickThrough->setChecked(m_defaults->boolValue(key, false));
    });
}

QMenu* LiveCaptionCommands::install(QMenuBar* menuBar)
{
    QMenu* menu = menuBar->addMenu(QStringLiteral("字幕"));
    menu->addAction(m_toggle);
    menu->addAction(m_clickThrough);
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
