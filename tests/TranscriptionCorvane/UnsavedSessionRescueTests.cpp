#include "TranscriptionCorvane/UnsavedSessionRescue.h"

#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/PreferencesStore.h"

#include "support/QtTestApplication.h"
#include "support/ViewModelHarness.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

class UnsavedSessionRescueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    // A window whose history can no longer be written: its folder is a plain file, as good as a full disk.
    std::unique_ptr<TranscriptionRootView> viewOverUnwritableHistory()
    {
        const std::filesystem::path blocked = h.dir.filePath("blocked").toStdString();
        std::ofstream(blocked) << "not a folder";
        h.store = std::make_shared<TranscriptHistoryStore>(blocked / "history.json");
        auto view = makeView();
        EXPECT_TRUE(test::ViewModelHarness::await([&](auto done) { view->model()->bootstrap(done); }));
        return view;
    }

    // The application builds the model and hands it to the window; the model outlives the view.
    std::unique_ptr<TranscriptionRootView> makeView()
    {
        model = h.makeModel();
        return std::make_unique<TranscriptionRootView>(model.get(), &defaults);
    }

    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("view.ini")};
    std::unique_ptr<TranscriptionViewModel> model;
};

TEST_F(UnsavedSessionRescueTest, AFailedSaveAtQuitIsToldAndTheOfferedExportWritesTheLines)
{
    auto view = viewOverUnwritableHistory();
    view->model()->handle(OutputEvent::finalizedTranscript("消えてはいけない行"));
    view->model()->shutdown();
    ASSERT_TRUE(view->model()->finalSaveError());

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

TEST_F(UnsavedSessionRescueTest, ASuccessfulSaveAsksNothing)
{
    auto view = makeView();
    ASSERT_TRUE(test::ViewModelHarness::await([&](auto done) { view->model()->bootstrap(done); }));
    view->model()->handle(OutputEvent::finalizedTranscript("保存される行"));
    view->model()->shutdown();
    EXPECT_FALSE(view->model()->finalSaveError());
    bool asked = false;
    EXPECT_FALSE(UnsavedSessionRescue::offer(*view, [&](const QString&) { return asked = true; }));
    EXPECT_FALSE(asked);
    EXPECT_EQ(h.store->load().size(), 1u);
}

} // namespace
} // namespace tc
