#include "TranscriptionUI/settings/CaptionStyleSection.h"

#include "TranscriptionDomain/LiveCaptionPresenter.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tc {

namespace {

constexpr int kPreviewWidth = 560;

QString presetLabel(LiveCaptionPreset preset)
{
    switch (preset) {
    case LiveCaptionPreset::standard: return QStringLiteral("標準");
    case LiveCaptionPreset::highContrast: return QStringLiteral("高コントラスト");
    case LiveCaptionPreset::yellowText: return QStringLiteral("黄色の文字");
    case LiveCaptionPreset::noBackground: return QStringLiteral("背景なし");
    }
    return {};
}

// Lines as a meeting would show them; the last one still being recognised.
LiveCaptionContent sampleContent(std::int64_t lines)
{
    return LiveCaptionPresenter::content({"ただいまから定例会議を始めます。", "資料は画面に映しています。",
                                          "最初の議題は来月の予定です。", "ご質問があればどうぞ。"},
                                         "それでは担当から説明を", lines);
}

QSpinBox* spinBox(QWidget* parent, const QString& objectName, LiveCaptionStyleSettings::Range range,
                  const QString& suffix)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(objectName);
    box->setRange(range.minimum, range.maximum);
    box->setSuffix(suffix);
    return box;
}

void select(QComboBox* combo, const QVariant& data)
{
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(std::max(0, combo->findData(data)));
}

void showValue(QSpinBox* box, int value)
{
    const QSignalBlocker quiet(box);
    box->setValue(value);
}

void showValue(QCheckBox* box, bool checked)
{
    const QSignalBlocker quiet(box);
    box->setChecked(checked);
}

} // namespace

CaptionStyleSection::CaptionStyleSection(PreferencesStore* preferences, QWidget* parent)
    : QWidget(parent), m_preferences(preferences), m_settings(preferences)
{
    setObjectName(QStringLiteral("captionStyleSection"));
    makeTextControls();
    makeColorControls();
    makePanelControls();
    layOut(makePreview());

    connect(m_preferences, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (LiveCaptionStyleSettings::isCaptionStyleKey(key)) showStored();
    });
    showStored();
}

void CaptionStyleSection::makeTextControls()
{
    m_preset = new QComboBox(this);
    m_preset->setObjectName(QStringLiteral("captionPreset"));
    for (const auto preset : LiveCaptionPresets::all())
        m_preset->addItem(presetLabel(preset), static_cast<int>(preset));
    m_presetChanged = new QLabel(QStringLiteral("（色や縁取りを個別に変えています）"), this);
    m_presetChanged->setObjectName(QStringLiteral("captionPresetChanged"));
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        m_settings.applyPreset(static_cast<LiveCaptionPreset>(m_preset->itemData(index).toInt()));
    });

    m_fontFamily = new QComboBox(this);
    m_fontFamily->setObjectName(QStringLiteral("captionFontFamily"));
    m_fontFamily->addItem(QStringLiteral("デスクトップの既定のフォント"), QString());
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese))
        if (!QFontDatabase::isPrivateFamily(family)) m_fontFamily->addItem(family, family);
    connect(m_fontFamily, &QComboBox::activated, this,
            [this](int index) { m_settings.setFontFamily(m_fontFamily->itemData(index).toString()); });

    m_fontSize =
        spinBox(this, QStringLiteral("captionFontSize"), LiveCaptionStyleSettings::fontSizes, QStringLiteral(" pt"));
    connect(m_fontSize, &QSpinBox::valueChanged, this, [this](int size) { m_settings.setFontSize(size); });
}

void CaptionStyleSection::makeColorControls()
{
    m_textColor = colorButton(QStringLiteral("captionTextColor"));
    m_backgroundColor = colorButton(QStringLiteral("captionBackgroundColor"));
    connect(m_textColor, &QPushButton::clicked, this, [this] { chooseColor(true); });
    connect(m_backgroundColor, &QPushButton::clicked, this, [this] { chooseColor(false); });

    m_backgroundOpacity = spinBox(this, QStringLiteral("captionBackgroundOpacity"),
                                  LiveCaptionStyleSettings::opacityPercents, QStringLiteral(" %"));
    m_backgroundOpacity->setSingleStep(5);
    connect(m_backgroundOpacity, &QSpinBox::valueChanged, this,
            [this](int percent) { m_settings.setBackgroundOpacityPercent(percent); });

    m_outline = new QComboBox(this);
    m_outline->setObjectName(QStringLiteral("captionOutline"));
    m_outline->addItem(QStringLiteral("なし"), static_cast<int>(LiveCaptionTextEdge::none));
    m_outline->addItem(QStringLiteral("縁取り"), static_cast<int>(LiveCaptionTextEdge::outline));
    m_outline->addItem(QStringLiteral("影"), static_cast<int>(LiveCaptionTextEdge::shadow));
    connect(m_outline, &QComboBox::activated, this, [this](int index) {
        m_settings.setTextEdge(static_cast<LiveCaptionTextEdge>(m_outline->itemData(index).toInt()));
    });
}

void CaptionStyleSection::makePanelControls()
{
    m_lines =
        spinBox(this, QStringLiteral("captionLines"), LiveCaptionStyleSettings::lineCounts, QStringLiteral(" 行"));
    connect(m_lines, &QSpinBox::valueChanged, this, [this](int lines) { m_settings.setLines(lines); });

    m_widthFromScreen = new QCheckBox(QStringLiteral("画面の幅に対する割合"), this);
    m_widthFromScreen->setObjectName(QStringLiteral("captionWidthFromScreen"));
    m_widthPercent = spinBox(this, QStringLiteral("captionWidthPercent"), LiveCaptionStyleSettings::widthPercents,
                             QStringLiteral(" %"));
    m_widthPercent->setSingleStep(5);
    // What the box offers when the share is first turned on.
    m_widthPercent->setValue(60);
    connect(m_widthFromScreen, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_settings.setWidthPercent(m_widthPercent->value());
        else
            m_settings.clearWidthPercent();
    });
    connect(m_widthPercent, &QSpinBox::valueChanged, this,
            [this](int percent) { m_settings.setWidthPercent(percent); });

    m_alignment = new QComboBox(this);
    m_alignment->setObjectName(QStringLiteral("captionAlignment"));
    m_alignment->addItem(QStringLiteral("左揃え"), static_cast<int>(LiveCaptionAlignment::left));
    m_alignment->addItem(QStringLiteral("中央"), static_cast<int>(LiveCaptionAlignment::center));
    m_alignment->addItem(QStringLiteral("右揃え"), static_cast<int>(LiveCaptionAlignment::right));
    connect(m_alignment, &QComboBox::activated, this, [this](int index) {
        m_settings.setAlignment(static_cast<LiveCaptionAlignment>(m_alignment->itemData(index).toInt()));
    });

    m_autoHide = new QCheckBox(QStringLiteral("自動で隠す"), this);
    m_autoHide->setObjectName(QStringLiteral("captionAutoHide"));
    m_autoHideSeconds = spinBox(this, QStringLiteral("captionAutoHideSeconds"),
                                LiveCaptionStyleSettings::autoHideDelays, QStringLiteral(" 秒"));
    connect(m_autoHide, &QCheckBox::toggled, this, [this](bool on) { m_settings.setAutoHide(on); });
    connect(m_autoHideSeconds, &QSpinBox::valueChanged, this,
            [this](int seconds) { m_settings.setAutoHideSeconds(seconds); });
}

QFrame* CaptionStyleSection::makePreview()
{
    // The preview stands on a picture with light and dark parts, so opacity and outline show as they would.
    auto* backdrop = new QFrame(this);
    backdrop->setObjectName(QStringLiteral("captionPreviewBackdrop"));
    backdrop->setStyleSheet(
        QStringLiteral("#captionPreviewBackdrop { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #f4f1e8, "
                       "stop:0.5 #7d8a96, stop:1 #1d2630); border-radius: 6px; }"));
    // Built with its sample lines, so the preview shows them from the start instead of fading in.
    const LiveCaptionStyle style = m_settings.style();
    m_previewModel = new LiveCaptionOverlayModel(sampleContent(style.maxLines), style, this);
    m_preview = new LiveCaptionOverlayView(m_previewModel, backdrop);
    m_preview->setObjectName(QStringLiteral("captionPreview"));
    m_preview->setFixedWidth(kPreviewWidth);
    auto* backdropLayout = new QHBoxLayout(backdrop);
    backdropLayout->addWidget(m_preview);
    return backdrop;
}

void CaptionStyleSection::layOut(QFrame* backdrop)
{
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(m_preset);
    presetRow->addWidget(m_presetChanged);
    presetRow->addStretch();
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(new QLabel(QStringLiteral("文字"), this));
    colorRow->addWidget(m_textColor);
    colorRow->addSpacing(12);
    colorRow->addWidget(new QLabel(QStringLiteral("背景"), this));
    colorRow->addWidget(m_backgroundColor);
    colorRow->addSpacing(12);
    colorRow->addWidget(new QLabel(QStringLiteral("背景の不透明度"), this));
    colorRow->addWidget(m_backgroundOpacity);
    colorRow->addStretch();
    auto* widthRow = new QHBoxLayout;
    widthRow->addWidget(m_widthFromScreen);
    widthRow->addWidget(m_widthPercent);
    widthRow->addStretch();
    auto* hideRow = new QHBoxLayout;
    hideRow->addWidget(m_autoHide);
    hideRow->addWidget(m_autoHideSeconds);
    hideRow->addWidget(new QLabel(QStringLiteral("新しい文字がないと隠れ、次の文字で現れます"), this));
    hideRow->addStretch();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("プリセット"), presetRow);
    form->addRow(QStringLiteral("フォント"), m_fontFamily);
    form->addRow(QStringLiteral("文字の大きさ"), m_fontSize);
    form->addRow(QStringLiteral("色"), colorRow);
    form->addRow(QStringLiteral("縁取り・影"), m_outline);
    form->addRow(QStringLiteral("表示する行数"), m_lines);
    form->addRow(QStringLiteral("パネルの幅"), widthRow);
    form->addRow(QStringLiteral("揃え"), m_alignment);
    form->addRow(QStringLiteral("表示"), hideRow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(form);
    layout->addWidget(backdrop);
}

QPushButton* CaptionStyleSection::colorButton(const QString& objectName)
{
    auto* button = new QPushButton(this);
    button->setObjectName(objectName);
    button->setIconSize({36, 18});
    return button;
}

void CaptionStyleSection::showStored()
{
    const LiveCaptionStyle style = m_settings.style();
    select(m_preset, static_cast<int>(m_settings.preset()));
    m_presetChanged->setVisible(m_settings.isPresetChanged());
    select(m_fontFamily, QString::fromStdString(style.fontFamily));
    showValue(m_fontSize, m_settings.fontSize().value_or(static_cast<int>(LiveCaptionStyle::defaultStyle().fontSize)));
    for (auto [button, color] :
         {std::pair{m_textColor, style.textColor}, std::pair{m_backgroundColor, style.backgroundColor}}) {
        QPixmap swatch(button->iconSize());
        swatch.fill(LiveCaptionStyleSettings::toQColor(color));
        button->setIcon(swatch);
        button->setToolTip(LiveCaptionStyleSettings::toQColor(color).name());
    }
    showValue(m_backgroundOpacity, static_cast<int>(std::lround(style.backgroundOpacity * 100)));
    select(m_outline, static_cast<int>(style.textEdge));
    showValue(m_lines, static_cast<int>(style.maxLines));
    const auto width = m_settings.widthPercent();
    showValue(m_widthFromScreen, width.has_value());
    if (width) showValue(m_widthPercent, *width);
    m_widthPercent->setEnabled(width.has_value());
    select(m_alignment, static_cast<int>(style.alignment));
    showValue(m_autoHide, m_settings.autoHide());
    showValue(m_autoHideSeconds, m_settings.autoHideSeconds());
    m_autoHideSeconds->setEnabled(m_settings.autoHide());
    showPreview();
}

void CaptionStyleSection::showPreview()
{
    const LiveCaptionStyle style = m_settings.style();
    m_previewModel->setStyle(style);
    m_previewModel->setContent(sampleContent(style.maxLines));
    m_preview->setFixedHeight(m_preview->heightForRows(static_cast<int>(style.maxLines), kPreviewWidth));
}

void CaptionStyleSection::chooseColor(bool forText)
{
    // Qt's own dialog, so it looks the same everywhere and can be driven in tests.
    if (!m_colorDialog) {
        m_colorDialog = new QColorDialog(this);
        m_colorDialog->setObjectName(QStringLiteral("captionColorDialog"));
        m_colorDialog->setOption(QColorDialog::DontUseNativeDialog);
    }
    m_colorDialog->disconnect(this);
    const LiveCaptionStyle style = m_settings.style();
    m_colorDialog->setWindowTitle(forText ? QStringLiteral("文字の色") : QStringLiteral("背景の色"));
    m_colorDialog->setCurrentColor(
        LiveCaptionStyleSettings::toQColor(forText ? style.textColor : style.backgroundColor));
    connect(m_colorDialog, &QColorDialog::colorSelected, this, [this, forText](const QColor& color) {
        if (forText)
            m_settings.setTextColor(color);
        else
            m_settings.setBackgroundColor(color);
    });
    m_colorDialog->open();
}

} // namespace tc
