#include "TranscriptionCorvane/UnsavedSessionRescue.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"

#include "support/ViewModelHarness.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

TEST(UnsavedSessionRescue, OnlyAFailedSaveAtQuitIsToldAndTheOfferedExportWritesTheLines)
{
    test::qtApplication();
    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("view.ini")};
    // The application builds the model and hands it to the window; the model outlives the view.
    const auto quitAfter = [&](const std::string& text) {
        auto model = h.makeModel();
        auto view = std::make_unique<TranscriptionRootView>(model.get(), &defaults);
        EXPECT_TRUE(test::ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
        model->handle(OutputEvent::finalizedTranscript(text));
        model->shutdown();
        return std::pair(std::move(model), std::move(view));
    };
    QString told;
    const auto answer = [&](bool accept) {
        return [&told, accept](const QString& message) {
            told = message;
            return accept;
        };
    };

    const auto [saved, savedView] = quitAfter("保存される行");
    EXPECT_FALSE(UnsavedSessionRescue::offer(*savedView, answer(true)));
    EXPECT_TRUE(told.isEmpty());

    // A history that can no longer be written: its folder is a plain file, as good as a full disk.
    const std::filesystem::path blocked = h.dir.filePath("blocked").toStdString();
    std::ofstream(blocked) << "not a folder";
    h.store = std::make_shared<TranscriptHistoryStore>(blocked / "history.json");
    const auto [model, view] = quitAfter("消えてはいけない行");
    const QString target = h.dir.filePath("rescued.md");
    QString proposed;
    view->setSaveLocationChooser([&](const QString& name) -> std::optional<TranscriptionRootView::ExportLocation> {
        proposed = name;
        return TranscriptionRootView::ExportLocation{target};
    });
    // Declining writes nothing; accepting exports the session through the window's own export, with its name.
    EXPECT_TRUE(UnsavedSessionRescue::offer(*view, answer(false)));
    EXPECT_TRUE(told.startsWith(QStringLiteral("履歴を保存できませんでした: "))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("別の場所"))) << told.toStdString();
    EXPECT_FALSE(std::filesystem::exists(target.toStdString()));
    EXPECT_TRUE(UnsavedSessionRescue::offer(*view, answer(true)));
    EXPECT_TRUE(proposed.startsWith(QStringLiteral("transcript-"))) << proposed.toStdString();
    EXPECT_NE(test::readText(target.toStdString()).find("消えてはいけない行"), std::string::npos);
}

} // namespace
} // namespace tc
