#include "TranscriptionInfrastructure/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/LlamaLanguageModel.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace tc {
namespace {

using Clock = std::chrono::steady_clock;

// The default model as scripts/install-models installs it; these tests run against the real thing.
std::shared_ptr<LlamaLanguageModel> installedModel()
{
    static const auto model = std::make_shared<LlamaLanguageModel>(LlamaLanguageModel::defaultOptions());
    return model;
}

ConversationExcerpt meeting()
{
    std::vector<FinalizedLine> lines;
    for (const char* text : {"おはようございます。今日は新製品の発売日について話し合います。",
                             "発売日は来月の十五日に決まりました。", "価格は九千八百円にする予定です。",
                             "宣伝は主に動画サイトで行います。", "次回の会議は金曜日の午後三時からです。"})
        lines.push_back(FinalizedLine{Uuid::random(), text, 0});
    return ConversationExcerpt(std::move(lines));
}

class RealModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto& file = installedModel()->options().modelFile;
        ASSERT_TRUE(std::filesystem::exists(file)) << file << " is missing: run scripts/install-models";
    }
};

TEST_F(RealModel, LlamaModel_LoadsOnceAndAnswersInTheReplySchema)
{
    auto model = installedModel();
    FoundationModelsConversationResponder responder(model);
    const auto excerpt = meeting();

    for (const char* question : {"発売日はいつですか？", "価格はいくらですか？", "社長の名前は何ですか？"}) {
        const auto reply =
            model->respond(FoundationModelsConversationResponder::instructions(),
                           FoundationModelsConversationResponder::prompt(question, excerpt),
                           FoundationModelsConversationResponder::replySchema(excerpt.lines().size()), {});
        const auto json = nlohmann::json::parse(reply);
        ASSERT_TRUE(json.at("answer").is_string()) << reply;
        ASSERT_TRUE(json.at("sources").is_array()) << reply;
        for (const auto& source : json["sources"]) {
            ASSERT_TRUE(source.is_number_integer()) << reply;
            EXPECT_GE(source.get<int>(), 1) << reply;
            EXPECT_LE(source.get<int>(), 5) << reply;
        }
        const auto answer = FoundationModelsConversationResponder::answerFromReply(reply, excerpt);
        EXPECT_LE(answer.sourceLineIDs.size(), json["sources"].size());
        for (const auto& id : answer.sourceLineIDs)
            EXPECT_TRUE(std::any_of(excerpt.lines().begin(), excerpt.lines().end(),
                                    [&](const FinalizedLine& line) { return line.id == id; }));
        std::printf("Q: %s\nA: %s\n", question, reply.c_str());
    }
    EXPECT_EQ(responder.availability(), ConversationResponderAvailability::available());
}

TEST_F(RealModel, LlamaModel_FirstAvailabilityWaitsForTheLoad)
{
    LlamaLanguageModel model(installedModel()->options());
    EXPECT_EQ(model.availability(), LanguageModel::Availability::available);
}

TEST_F(RealModel, LlamaModel_RemembersNothingBetweenQuestions)
{
    auto model = installedModel();
    FoundationModelsConversationResponder responder(model);
    const auto excerpt = meeting();
    const auto first = responder.answer("次回の会議はいつですか？", excerpt);
    responder.answer("宣伝はどこで行いますか？", excerpt);
    EXPECT_EQ(responder.answer("次回の会議はいつですか？", excerpt), first);
}

TEST_F(RealModel, LlamaModel_StopsAtOnceWhenTheCallerGivesUp)
{
    auto model = installedModel();
    FoundationModelsConversationResponder responder(model);
    responder.answer("発売日はいつですか？", meeting()); // loaded before timing

    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        stop.request_stop();
    });
    const auto started = Clock::now();
    try {
        responder.answer("この会議の内容を詳しくまとめてください。", meeting(), stop.get_token());
        ADD_FAILURE() << "finished despite the stop request";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::cancelled);
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
}

TEST_F(RealModel, LlamaModel_GivesUpAtItsTimeLimit)
{
    auto options = installedModel()->options();
    options.timeLimit = std::chrono::milliseconds(300);
    LlamaLanguageModel model(options);
    const auto started = Clock::now();
    try {
        model.respond(FoundationModelsConversationResponder::instructions(),
                      FoundationModelsConversationResponder::prompt("まとめてください。", meeting()),
                      FoundationModelsConversationResponder::replySchema(5), {});
        ADD_FAILURE() << "answered within 300 ms, loading included";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::timedOut);
        EXPECT_STREQ(error.what(),
                     "回答に時間がかかりすぎたため中止しました。質問を短くして、もう一度お試しください。");
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
}

TEST(LlamaModelFiles, LlamaModel_ReportsMissingAndInstallingModels)
{
    test::TemporaryDirectory folder;
    LlamaLanguageModel::Options options;
    options.modelFile = folder.path() / "model.gguf";
    LlamaLanguageModel missing(options);
    EXPECT_EQ(missing.availability(), LanguageModel::Availability::noModel);
    try {
        missing.respond("i", "p", FoundationModelsConversationResponder::replySchema(1), {});
        ADD_FAILURE() << "answered without a model";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::unavailable);
    }

    std::FILE* partial = std::fopen((folder.path() / ".model.gguf.x1y2.partial").c_str(), "w");
    ASSERT_NE(partial, nullptr);
    std::fclose(partial);
    EXPECT_EQ(missing.availability(), LanguageModel::Availability::preparing);

    // A file that is not a model fails to load and says so.
    std::filesystem::remove(folder.path() / ".model.gguf.x1y2.partial");
    std::FILE* broken = std::fopen(options.modelFile.c_str(), "w");
    ASSERT_NE(broken, nullptr);
    std::fputs("not a gguf file", broken);
    std::fclose(broken);
    LlamaLanguageModel brokenModel(options);
    EXPECT_EQ(brokenModel.availability(), LanguageModel::Availability::failed);
    EXPECT_THROW(brokenModel.respond("i", "p", FoundationModelsConversationResponder::replySchema(1), {}),
                 LanguageModelError);
    EXPECT_EQ(brokenModel.availability(), LanguageModel::Availability::failed);
    EXPECT_EQ(brokenModel.availability(), LanguageModel::Availability::failed);

    // Replacing the file with a real model gives it another try.
    const auto& installed = installedModel()->options().modelFile;
    ASSERT_TRUE(std::filesystem::exists(installed)) << installed << " is missing: run scripts/install-models";
    std::filesystem::remove(options.modelFile);
    std::filesystem::create_symlink(installed, options.modelFile);
    EXPECT_EQ(brokenModel.availability(), LanguageModel::Availability::available);
}

} // namespace
} // namespace tc
