#include "TranscriptionCorvane/ApplicationWiring.h"
#include "TranscriptionUI/presentation/ModelDownloadOffer.h"

#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionUI/window/ModelDownloadBanner.h"
#include "support/LocalModelHost.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace tc {
namespace {

namespace fs = std::filesystem;
using State = ModelDownloadOffer::State;

std::string randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

void write(const fs::path& file, const std::string& bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// The first run as a user has it: no model, a catalogue whose models come from a host (here a local one named by
// HF_ENDPOINT, as a mirror would be), the real installer script and the offer's own wiring to it.
class ModelDownloadOfferTest : public ::testing::Test {
protected:
    static constexpr std::size_t kSpeechBytes = 3 * 1024 * 1024;

    void SetUp() override
    {
        test::qtApplication();
        fs::create_directories(m_served);
        fs::create_directories(m_dir.path() / "models");
        m_speech = randomBytes(kSpeechBytes, 1);
        m_voice = randomBytes(4096, 2);
        const auto sha256 = QCryptographicHash::hash(QByteArray::fromStdString(m_voice), QCryptographicHash::Sha256)
                                .toHex()
                                .toStdString();
        const std::string repo = test::LocalModelHost::repo();
        // The speech model is checked by the SHA-256 the host reports, the voice model by the catalogue's.
        std::ofstream(m_dir.path() / "models.json")
            << R"({"speech": {"default": "t", "download": {"repo": ")" << repo << R"("}, "models": [
                 {"name": "t", "file": "ggml-t.bin", "bytes": )"
            << kSpeechBytes << R"(, "check": "host-sha256"}]},
               "voice": {"default": "v", "download": {"repo": ")"
            << repo << R"("}, "models": [
                 {"name": "v", "file": "ggml-v.bin", "bytes": 4096, "check": "sha256", "sha256": ")"
            << sha256 << R"("}]},
               "language": {"default": "none", "models": []}})";
        for (const char* proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "HF_TOKEN"})
            ::unsetenv(proxy);
    }

    void TearDown() override { ::unsetenv("HF_ENDPOINT"); }

    std::unique_ptr<ModelDownloadOffer> makeOffer(const test::LocalModelHost& host)
    {
        ::setenv("HF_ENDPOINT", host.endpoint().c_str(), 1);
        auto installer = std::make_shared<SpeechModelInstaller>(
            SpeechModelInstaller::Setup{test::binaryDir() / "share/transcription-corvane/install-models",
                                        m_dir.path() / "models.json", m_dir.path() / "models", m_dir.path() / "cache"});
        return std::make_unique<ModelDownloadOffer>(ApplicationWiring::modelDownloadOffer(installer));
    }

    void serveModels()
    {
        write(m_served / "ggml-t.bin", m_speech);
        write(m_served / "ggml-v.bin", m_voice);
    }

    static bool reaches(const ModelDownloadOffer& offer, State state)
    {
        return QTest::qWaitFor([&] { return offer.state() == state; }, 120000);
    }

    test::TemporaryDirectory m_dir;
    fs::path m_served = m_dir.path() / "served";
    std::string m_speech;
    std::string m_voice;
};

TEST_F(ModelDownloadOfferTest, OffersAMissingModelThenFailsSayingWhyAndInstallsOnRetry)
{
    test::LocalModelHost host(m_served);
    ASSERT_TRUE(host.running());
    auto offer = makeOffer(host);
    ModelDownloadBanner banner(offer.get());
    auto* button = banner.findChild<QPushButton*>(QStringLiteral("modelDownloadButton"));
    auto* message = banner.findChild<QLabel*>(QStringLiteral("modelDownloadMessage"));
    QSignalSpy installed(offer.get(), &ModelDownloadOffer::installed);

    offer->check("t");
    ASSERT_TRUE(reaches(*offer, State::offered));
    EXPECT_FALSE(banner.isHidden());
    // The size of both files, rounded up to megabytes.
    EXPECT_TRUE(message->text().contains("約 4 MB")) << message->text().toStdString();
    EXPECT_EQ(button->text(), "ダウンロード");

    // The host has nothing yet: the reason, and a retry.
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(reaches(*offer, State::failed));
    EXPECT_TRUE(message->text().contains("HTTP 404")) << message->text().toStdString();
    EXPECT_EQ(button->text(), "もう一度ダウンロード");
    EXPECT_FALSE(fs::exists(m_dir.path() / "models/ggml-t.bin"));

    serveModels();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return installed.count() == 1; }, 120000)) << message->text().toStdString();
    EXPECT_EQ(offer->state(), State::idle);
    EXPECT_TRUE(banner.isHidden());
    SpeechModelManager manager(m_dir.path() / "models", m_dir.path() / "models.json");
    EXPECT_TRUE(manager.isVerified("t"));
    EXPECT_EQ(manager.voiceModel(), m_dir.path() / "models/ggml-v.bin") << "the voice model comes with it";

    // In place now: nothing to offer at the next start.
    ModelDownloadOffer again(ApplicationWiring::modelDownloadOffer(std::make_shared<SpeechModelInstaller>(
        SpeechModelInstaller::Setup{test::binaryDir() / "share/transcription-corvane/install-models",
                                    m_dir.path() / "models.json", m_dir.path() / "models", m_dir.path() / "cache"})));
    again.check("t");
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.modelName() == "t"; }, 60000));
    EXPECT_EQ(again.state(), State::idle);

    // A damaged file fails its check and is offered again.
    write(m_dir.path() / "models/ggml-t.bin", randomBytes(kSpeechBytes, 3));
    offer->check("t");
    ASSERT_TRUE(reaches(*offer, State::offered));
}

TEST_F(ModelDownloadOfferTest, CancelledMidwayKeepsWhatArrivedAndTheRetryContinuesFromThere)
{
    serveModels();
    test::LocalModelHost host(m_served, std::size_t{1024 * 1024});
    ASSERT_TRUE(host.running());
    auto offer = makeOffer(host);
    ModelDownloadBanner banner(offer.get());
    auto* cancel = banner.findChild<QPushButton*>(QStringLiteral("modelDownloadCancel"));
    auto* progress = banner.findChild<QProgressBar*>(QStringLiteral("modelDownloadProgress"));
    QSignalSpy installed(offer.get(), &ModelDownloadOffer::installed);

    offer->check("t");
    ASSERT_TRUE(reaches(*offer, State::offered));
    offer->download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return offer->progress().done >= 1024 * 1024; }, 60000));
    EXPECT_FALSE(cancel->isHidden());
    EXPECT_EQ(progress->maximum(), static_cast<int>(kSpeechBytes / 1024));
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(reaches(*offer, State::failed));
    EXPECT_TRUE(offer->message().contains("中止しました")) << offer->message().toStdString();
    EXPECT_FALSE(fs::exists(m_dir.path() / "models/ggml-t.bin")) << "nothing half-written where the app loads";
    EXPECT_EQ(fs::file_size(m_dir.path() / "models/.ggml-t.bin.download"), 1024U * 1024U);

    host.release();
    offer->download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return installed.count() == 1; }, 120000)) << offer->message().toStdString();
    EXPECT_TRUE(SpeechModelManager(m_dir.path() / "models", m_dir.path() / "models.json").isVerified("t"));
}

} // namespace
} // namespace tc
