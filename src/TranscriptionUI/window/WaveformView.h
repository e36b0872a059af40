#pragma once

#include "TranscriptionDomain/AudioSourceID.h"

#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

namespace tc {

// A source's icon followed by a 90 x 18 strip of bars drawing its recent input levels. Drawn only from its
// inputs; the window replaces them whenever the model's level history changes.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    enum class State { sounding, silent, inactive };

    static constexpr double canvasWidth = 90.0;
    static constexpr double canvasHeight = 18.0;

    explicit WaveformView(AudioSourceID id, QWidget* parent = nullptr);

    void setInputs(std::vector<float> samples, bool isActive, float silenceThreshold);

    AudioSourceID id() const { return m_id; }
    const std::vector<float>& samples() const { return m_samples; }
    State state() const;

    // "マイク" or "システム音声".
    static QString label(AudioSourceID id);
    static QString symbol(AudioSourceID id);
    // The last sample below the threshold; no samples count as silent unless the threshold is 0 or less.
    static bool isSilent(const std::vector<float>& samples, float silenceThreshold);
    static State state(const std::vector<float>& samples, bool isActive, float silenceThreshold);
    static QString tooltip(AudioSourceID id, State state);
    static QString accessibleLabel(AudioSourceID id);
    // Bars for the samples in a canvas of the given size: 1-point gaps, centred on the mid-line, square-root
    // scaled, never lower than 1 point.
    static std::vector<QRectF> barRects(const std::vector<float>& samples, QSizeF canvas);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshDescription();
    QRectF iconRect() const;
    QRectF canvasRect() const;

    AudioSourceID m_id;
    std::vector<float> m_samples;
    bool m_isActive = true;
    float m_silenceThreshold = 0.02f;
};

} // namespace tc
