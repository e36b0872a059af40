#pragma once

#include <QAbstractButton>

namespace tc {

// A switch-style checkable button: icon, label, then a small sliding track.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    ToggleSwitch(const QIcon& icon, const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace tc
