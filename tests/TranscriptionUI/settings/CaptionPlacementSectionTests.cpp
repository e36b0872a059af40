#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/settings/CaptionPlacementSection.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

namespace tc {
namespace {

using Controller = LiveCaptionOverlayController;

TEST(CaptionPlacementSection, WritesEachChoiceAtOnceAndShowsChoicesMadeElsewhere)
{
    test::qtApplication();
    test::TemporaryDirectory dir;
    PreferencesStore preferences(QString::fromStdString((dir.path() / "settings.ini").string()));
    CaptionPlacementSection section(&preferences);
    auto* placement = section.findChild<QComboBox*>(QStringLiteral("captionPlacement"));
    auto* screen = section.findChild<QComboBox*>(QStringLiteral("captionScreen"));
    auto* clickThrough = section.findChild<QCheckBox*>(QStringLiteral("captionClickThrough"));
    ASSERT_TRUE(placement && screen && clickThrough);

    EXPECT_EQ(placement->currentData().toString(), QStringLiteral("floating")) << "floating until chosen";
    EXPECT_EQ(screen->currentText(), QStringLiteral("メインの画面"));
    EXPECT_EQ(screen->count(), 1 + QGuiApplication::screens().size());
    EXPECT_FALSE(clickThrough->isChecked());

    placement->setCurrentIndex(placement->findData(QStringLiteral("bottom")));
    Q_EMIT placement->activated(placement->currentIndex());
    EXPECT_EQ(preferences.value(Controller::placementDefaultsKey).toString(), QStringLiteral("bottom"));
    screen->setCurrentIndex(1);
    Q_EMIT screen->activated(1);
    EXPECT_EQ(preferences.value(Controller::screenDefaultsKey).toString(), QGuiApplication::screens().front()->name());
    clickThrough->setChecked(true);
    EXPECT_TRUE(preferences.boolValue(Controller::clickThroughDefaultsKey));

    // The panel's menu and the caption menu write the same keys; the page follows them.
    preferences.setValue(Controller::placementDefaultsKey, QStringLiteral("top"));
    EXPECT_EQ(placement->currentData().toString(), QStringLiteral("top"));
    preferences.setBool(Controller::clickThroughDefaultsKey, false);
    EXPECT_FALSE(clickThrough->isChecked());
    preferences.setValue(Controller::screenDefaultsKey, QString());
    EXPECT_EQ(screen->currentIndex(), 0);
}

} // namespace
} // namespace tc
