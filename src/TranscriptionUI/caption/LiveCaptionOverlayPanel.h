#pragma once

#include <QWidget>
#include <optional>

namespace tc {

class LiveCaptionOverlayModel;
class LiveCaptionOverlayView;
class PreferencesStore;

// The floating caption window: frameless, translucent, above other windows on every workspace, never
// focused or activating the application; dragging anywhere on the caption moves it, and every move is
// remembered under its autosave name.
class LiveCaptionOverlayPanel : public QWidget {
    Q_OBJECT
public:
    LiveCaptionOverlayPanel(LiveCaptionOverlayModel* model, PreferencesStore* defaults, QString frameAutosaveName,
                            QSize size);

    LiveCaptionOverlayView* view() const { return m_view; }
    // The frame saved under the autosave name, when there is one that still lies on a screen.
    std::optional<QRect> savedFrame() const;
    void saveFrame();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void updateInputShape();

    LiveCaptionOverlayView* m_view;
    PreferencesStore* m_defaults;
    QString m_frameAutosaveName;
    std::optional<QPoint> m_dragOffset;
};

} // namespace tc
