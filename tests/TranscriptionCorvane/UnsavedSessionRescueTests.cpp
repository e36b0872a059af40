#include "TranscriptionCorvane/UnsavedSessionRescue.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"

#include "support/QtTestApplication.h"
#include "support/ViewModelHarness.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

// The application builds the model and hands it to the window; the model outlives the view.
TEST(UnsavedSessionRescue, OnlyAFailedSaveAtQuitIsToldAndTheOfferedExportWritesTheLines)
{
    test::qtApplication();
    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("view.ini")};
    const auto quitAfter = [&](const std::string& text) {
        auto model = h.makeModel();
        auto view = std::make_unique<TranscriptionRootView>(model.get(), &defaults);
        EXPECT_TRUE(test::ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
        model->handle(OutputEvent::finalizedTranscript(text));
        model->shutdown();
        return std::pair(std::move(model), std::move(view));
    };

    const auto [saved, savedView] = quitAfter("保存される行");
    EXPECT_FALSE(saved->finalSaveError());
    bool asked = false;
    EXPECT_FALSE(UnsavedSessionRescue::offer(*savedView, [&](const QString&) { return asked = true; }));
    EXPECT_FALSE(asked);
    EXPECT_EQ(h.store->load().size(), 1u);

    // A history that can no longer be written: its folder is a plain file, as good as a full disk.
    const std::filesystem::path blocked = h.dir.filePath("blocked").toStdString();
    std::ofstream(blocked) << "not a folder";
    h.store = std::make_shared<TranscriptHistoryStore>(blocked / "history.json");
    const auto [model, view] = quitAfter("消えてはいけない行");
    ASSERT_TRUE(model->finalSaveError());
    const QString target = h.dir.filePath("rescued.md");
    QString proposed;
    view->setSaveLocationChooser([&](const QString& name) -> std::optional<TranscriptionRootView::ExportLocation> {
        proposed = name;
        return TranscriptionRootView::ExportLocation{target};
    });

    // Declining writes nothing.
    QString told;
    EXPECT_TRUE(UnsavedSessionRescue::offer(*view, [&](const QString& message) {
        told = message;
        return false;
    }));
    EXPECT_TRUE(told.startsWith(QStringLiteral("履歴を保存できませんでした: "))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("別の場所"))) << told.toStdString();
    EXPECT_FALSE(QFile::exists(target));

    // Accepting exports the session through the window's own export, with its proposed name.
    EXPECT_TRUE(UnsavedSessionRescue::offer(*view, [](const QString&) { return true; }));
    EXPECT_TRUE(proposed.startsWith(QStringLiteral("transcript-"))) << proposed.toStdString();
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("消えてはいけない行")));
}

} // namespace
} // namespace tc
