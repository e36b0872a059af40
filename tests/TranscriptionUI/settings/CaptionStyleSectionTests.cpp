#include "TranscriptionUI/settings/CaptionStyleSection.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"

#include "support/CaptionPixels.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace tc {
namespace {

class CaptionStyleSectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApplication();
        m_captions.update(LiveCaptionContent{{{0, "本日の議題は三つです", false}, {1, "まず予算の", true}}});
        m_captions.setVisible(true);
        m_section = std::make_unique<CaptionStyleSection>(&m_defaults);
        m_section->show();
    }

    QString iniFile() const { return QString::fromStdString((m_dir.path() / "settings.ini").string()); }

    template <class T>
    T* child(const char* name)
    {
        auto* found = m_section->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Picks an entry the way a keyboard user does: arrows on the closed list.
    void choose(const char* comboName, const QString& text)
    {
        auto* combo = child<QComboBox>(comboName);
        const int wanted = combo->findText(text);
        ASSERT_GE(wanted, 0) << text.toStdString();
        combo->setFocus();
        while (combo->currentIndex() != wanted)
            QTest::keyClick(combo, combo->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    }

    void type(const char* spinName, const QString& value)
    {
        auto* box = child<QSpinBox>(spinName);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, value);
    }

    void pickColor(const char* buttonName, const QColor& color)
    {
        QTest::mouseClick(child<QPushButton>(buttonName), Qt::LeftButton);
        auto* dialog = m_section->findChild<QColorDialog*>(QStringLiteral("captionColorDialog"));
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }));
        dialog->setCurrentColor(color);
        dialog->accept();
    }

    test::TemporaryDirectory m_dir;
    PreferencesStore m_defaults{iniFile()};
    LiveCaptionOverlayController m_captions{&m_defaults};
    std::unique_ptr<CaptionStyleSection> m_section;
};

TEST_F(CaptionStyleSectionTest, Presets_ChoosingOneSetsTheSingleChoicesThePreviewAndTheOpenPanel)
{
    EXPECT_EQ(child<QComboBox>("captionPreset")->currentText(), QStringLiteral("標準"));
    EXPECT_FALSE(child<QLabel>("captionPresetChanged")->isVisibleTo(m_section.get()));
    EXPECT_EQ(child<QSpinBox>("captionBackgroundOpacity")->value(), 75);
    EXPECT_FALSE(child<QCheckBox>("captionAutoHide")->isChecked()) << "off by default";
    EXPECT_EQ(child<QSpinBox>("captionLines")->value(), 2);

    choose("captionPreset", QStringLiteral("背景なし"));
    EXPECT_EQ(child<QSpinBox>("captionBackgroundOpacity")->value(), 0);
    EXPECT_EQ(child<QComboBox>("captionOutline")->currentText(), QStringLiteral("縁取り"));
    EXPECT_EQ(m_captions.model()->style().textEdge, LiveCaptionTextEdge::outline) << "the open panel follows at once";

    choose("captionPreset", QStringLiteral("黄色の文字"));
    EXPECT_EQ(child<QSpinBox>("captionBackgroundOpacity")->value(), 85);
    EXPECT_EQ(child<QComboBox>("captionOutline")->currentText(), QStringLiteral("なし"));
    EXPECT_EQ(child<QPushButton>("captionTextColor")->toolTip(), QStringLiteral("#ffff00"));

    // The preview is the panel's own view: its box and letters are read back from what it draws.
    LiveCaptionOverlayView* preview = m_section->preview();
    ASSERT_EQ(preview->lineRect(2), QRectF()) << "two lines: one final, one volatile";
    const QImage overBlack = test::renderedOver(*preview, Qt::black);
    const QImage overWhite = test::renderedOver(*preview, Qt::white);
    const QRectF box = preview->boxRect();
    const auto read =
        test::backgroundAt(overBlack, overWhite, {static_cast<int>(box.center().x()), static_cast<int>(box.top()) + 4});
    EXPECT_NEAR(read.opacity, 0.85, 0.02);
    EXPECT_GT(test::pixelsNear(overBlack, preview->lineRect(0).toAlignedRect(), QColor(255, 255, 0)), 50);
    EXPECT_LT(
        test::pixelsNear(overBlack, preview->lineRect(1).intersected(box).toAlignedRect(), QColor(255, 255, 0), 2), 5);
    const QImage panel = test::renderedOver(*m_captions.panel()->view(), Qt::black);
    EXPECT_GT(test::pixelsNear(panel, m_captions.panel()->view()->lineRect(0).toAlignedRect(), QColor(255, 255, 0)),
              50);

    // A single change afterwards is kept beside the preset, and said so.
    pickColor("captionTextColor", QColor(0, 255, 255));
    EXPECT_EQ(m_defaults.value(settingKeys::captionTextColor).toString(), QStringLiteral("#00ffff"));
    EXPECT_EQ(child<QComboBox>("captionPreset")->currentText(), QStringLiteral("黄色の文字"));
    EXPECT_TRUE(child<QLabel>("captionPresetChanged")->isVisibleTo(m_section.get()));
    EXPECT_EQ(m_captions.model()->style().textColor, (LiveCaptionColor{0, 1, 1}));
    EXPECT_DOUBLE_EQ(m_captions.model()->style().backgroundOpacity, 0.85);

    choose("captionPreset", QStringLiteral("高コントラスト"));
    EXPECT_FALSE(child<QLabel>("captionPresetChanged")->isVisibleTo(m_section.get()));
    EXPECT_EQ(m_captions.model()->style().textColor, LiveCaptionColor::white());
    EXPECT_DOUBLE_EQ(m_captions.model()->style().backgroundOpacity, 1.0);
}

TEST_F(CaptionStyleSectionTest, Persistence_EveryChoiceReachesThePanelAndIsThereAgainWithANewStore)
{
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    const QString family =
        japanese.contains(QStringLiteral("Noto Sans CJK JP")) ? QStringLiteral("Noto Sans CJK JP") : japanese.value(0);
    ASSERT_FALSE(family.isEmpty()) << "a Japanese font is installed";
    choose("captionFontFamily", family);
    type("captionFontSize", QStringLiteral("36"));
    pickColor("captionTextColor", QColor(0xf0, 0xe0, 0x10));
    pickColor("captionBackgroundColor", QColor(0x10, 0x20, 0x40));
    type("captionBackgroundOpacity", QStringLiteral("40"));
    choose("captionOutline", QStringLiteral("影"));
    type("captionLines", QStringLiteral("4"));
    QTest::mouseClick(child<QCheckBox>("captionWidthFromScreen"), Qt::LeftButton);
    EXPECT_TRUE(child<QSpinBox>("captionWidthPercent")->isEnabled());
    type("captionWidthPercent", QStringLiteral("60"));
    choose("captionAlignment", QStringLiteral("右揃え"));
    QTest::mouseClick(child<QCheckBox>("captionAutoHide"), Qt::LeftButton);
    type("captionAutoHideSeconds", QStringLiteral("8"));

    LiveCaptionStyle expected = LiveCaptionStyle::defaultStyle();
    expected.fontFamily = family.toStdString();
    expected.fontSize = expected.minFontSize = expected.maxFontSize = 36;
    expected.textColor = {0xf0 / 255.0, 0xe0 / 255.0, 0x10 / 255.0};
    expected.backgroundColor = {0x10 / 255.0, 0x20 / 255.0, 0x40 / 255.0};
    expected.backgroundOpacity = 0.4;
    expected.textEdge = LiveCaptionTextEdge::shadow;
    expected.maxLines = 4;
    expected.alignment = LiveCaptionAlignment::right;
    EXPECT_EQ(m_captions.model()->style(), expected) << "the open panel follows every choice at once";
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(m_captions.panel()->width(), qRound(area.width() * 0.6));
    EXPECT_EQ(m_section->preview()->captionFont().family(), family);

    m_defaults.sync();
    PreferencesStore reopened(iniFile());
    const LiveCaptionStyleSettings reread(&reopened);
    EXPECT_EQ(reread.style(), expected);
    EXPECT_EQ(reread.widthPercent(), 60);
    EXPECT_EQ(reread.autoHideAfterSeconds(), 8);
    LiveCaptionOverlayController later(&reopened);
    EXPECT_EQ(later.model()->style(), expected);

    m_section = std::make_unique<CaptionStyleSection>(&reopened);
    EXPECT_EQ(child<QComboBox>("captionFontFamily")->currentText(), family);
    EXPECT_EQ(child<QSpinBox>("captionFontSize")->value(), 36);
    EXPECT_EQ(child<QSpinBox>("captionBackgroundOpacity")->value(), 40);
    EXPECT_EQ(child<QComboBox>("captionOutline")->currentText(), QStringLiteral("影"));
    EXPECT_EQ(child<QSpinBox>("captionLines")->value(), 4);
    EXPECT_TRUE(child<QCheckBox>("captionWidthFromScreen")->isChecked());
    EXPECT_EQ(child<QSpinBox>("captionWidthPercent")->value(), 60);
    EXPECT_EQ(child<QComboBox>("captionAlignment")->currentText(), QStringLiteral("右揃え"));
    EXPECT_TRUE(child<QCheckBox>("captionAutoHide")->isChecked());
    EXPECT_EQ(child<QSpinBox>("captionAutoHideSeconds")->value(), 8);
    EXPECT_EQ(m_section->preview()->lineRect(3).isEmpty(), false) << "the preview shows four lines";
    EXPECT_TRUE(m_section->preview()->lineRect(4).isEmpty());

    // Unusable stored values fall back instead of breaking the panel.
    reopened.setValue(settingKeys::captionTextColor, QStringLiteral("not a colour"));
    reopened.setValue(settingKeys::captionOutline, QStringLiteral("sparkles"));
    reopened.setValue(settingKeys::captionBackgroundOpacity, 250);
    EXPECT_EQ(later.model()->style().textColor, LiveCaptionColor::white());
    EXPECT_EQ(later.model()->style().textEdge, LiveCaptionTextEdge::none);
    EXPECT_DOUBLE_EQ(later.model()->style().backgroundOpacity, 1.0);
    m_section.reset(); // before the store it reads
}

} // namespace
} // namespace tc
