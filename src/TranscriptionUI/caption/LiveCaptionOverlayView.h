#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QRegion>
#include <QVariantAnimation>
#include <QWidget>
#include <memory>
#include <vector>

class QTextLayout;

namespace tc {

class LiveCaptionOverlayModel;

// Draws the caption box (the model's lines in large type, the volatile line fainter, with an outline or shadow
// where the style asks for one), centred or at the side its alignment names, and a close button at the box's
// top-right corner while the pointer is over it. Everything outside the box and its 8-point margin stays
// transparent.
class LiveCaptionOverlayView : public QWidget {
    Q_OBJECT
public:
    static constexpr double outerPadding = 8.0;
    static constexpr double lineSpacing = 4.0;
    static constexpr double closeButtonSize = 20.0;

    explicit LiveCaptionOverlayView(LiveCaptionOverlayModel* model, QWidget* parent = nullptr);

    bool isHovering() const { return m_isHovering; }
    // Whether the close button is drawn (and can be pressed) now.
    bool isCloseButtonShown() const;
    // The fitted caption font for the current width, or for a given one.
    QFont captionFont() const;
    QFont captionFont(double forWidth) const;
    // The drawn box, the padded hit area and the close button, in widget coordinates.
    QRectF boxRect() const;
    QRectF hitRect() const;
    QRectF closeButtonRect() const;
    // The drawn shapes only (rounded box and, while shown, the close button), for screens without a
    // compositor where everything outside them would show as solid black.
    QRegion drawnRegion() const;
    // Colour of the line at index, with the volatile opacity applied.
    QColor lineColor(std::size_t index) const;
    // Where the line at index is drawn (the full width its rows may take); empty past the last line.
    QRectF lineRect(std::size_t index) const;
    // The height that holds this many rows of text in the font fitted to the width, with the box's paddings
    // and margin.
    int heightForRows(int rows, double forWidth) const;

signals:
    // The hit area moved or changed size (the panel shapes its input region to it).
    void hitRectChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Layout {
        QRectF box;
        std::vector<QRectF> lines;
        std::vector<std::unique_ptr<QTextLayout>> texts;
    };
    Layout layout() const;
    void setHovering(bool hovering);
    void contentDidChange();

    LiveCaptionOverlayModel* m_model;
    bool m_isHovering = false;
    bool m_pressOnClose = false;
    double m_opacity = 0.0;
    double m_closeOpacity = 0.0;
    QVariantAnimation m_opacityAnimation;
    QVariantAnimation m_closeAnimation;
};

} // namespace tc
