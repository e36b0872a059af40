#include "TranscriptionCorvane/ApplicationWiring.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <cstdlib>

namespace tc {
namespace {

// The application's pipeline reads the "speech/model" choice each time a run builds it: no restart needed, and a
// choice that cannot be used is a notice while the model in use carries on.
TEST(ApplicationWiring, ViewModelPipeline_ReadsTheSpeechModelChoiceAtEachRunStart)
{
    // The user's own settings and models stay untouched.
    test::TemporaryDirectory home;
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    test::qtApplication();
    QCoreApplication::setOrganizationName(QStringLiteral("transcription-corvane-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("defaults"));

    const auto dependencies = ApplicationWiring::viewModel();
    const auto runStart = [&] {
        std::vector<std::string> notices;
        const auto pipeline = dependencies.makePipeline(
            false, false, {}, [&](const std::string& notice) { notices.push_back(notice); }, {});
        EXPECT_NE(pipeline.transcriber, nullptr);
        return notices;
    };

    EXPECT_TRUE(runStart().empty()) << "nothing chosen: the default model";
    QSettings().setValue("speech/model", "small");
    const auto notices = runStart();
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_NE(notices[0].find("「small」に切り替えられなかった"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("「base」で続けます"), std::string::npos) << notices[0];
    QSettings().remove("speech/model");
    EXPECT_TRUE(runStart().empty());
}

} // namespace
} // namespace tc
