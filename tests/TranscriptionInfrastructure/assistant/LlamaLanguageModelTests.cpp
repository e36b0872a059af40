#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/ConversationSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/ThrownKind.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tc {
namespace {

using A = LanguageModel::Availability;

// The default model as scripts/install-models installs it; these tests run against the real thing.
const std::filesystem::path& installedFile()
{
    static const auto file = LlamaLanguageModel::installedOptions().modelFile;
    return file;
}

ConversationExcerpt meeting()
{
    return test::excerptOf({"おはようございます。今日は新製品の発売日について話し合います。",
                            "発売日は来月の十五日に決まりました。", "価格は九千八百円にする予定です。",
                            "宣伝は主に動画サイトで行います。", "次回の会議は金曜日の午後三時からです。"});
}

LanguageModel::Reply ask(LanguageModel& model, const std::string& question, std::stop_token stop = {})
{
    return model.respond(FoundationModelsConversationResponder::instructions(),
                         FoundationModelsConversationResponder::prompt(question, meeting()),
                         FoundationModelsConversationResponder::replySchema(), stop);
}

// The kind of the error a request ends in; nothing when it was answered.
std::optional<LanguageModelError::Kind> failureOf(LanguageModel& model, const std::string& question,
                                                  std::stop_token stop = {})
{
    return test::thrownKind<LanguageModelError>([&] { ask(model, question, stop); });
}

template <class T>
void put(std::ostream& out, T value)
{
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

void putString(std::ostream& out, const std::string& text)
{
    put(out, std::uint64_t{text.size()});
    out << text;
}

// A GGUF header of string entries only and no tensors, as an instruction-tuned model's header starts.
void writeGguf(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::ofstream out(file, std::ios::binary);
    out.write("GGUF", 4);
    put(out, std::uint32_t{3});
    put(out, std::uint64_t{0});
    put(out, std::uint64_t{entries.size()});
    for (const auto& [key, value] : entries) {
        putString(out, key);
        put(out, std::uint32_t{8});
        putString(out, value);
    }
}

void copyPrefix(const std::filesystem::path& from, const std::filesystem::path& to, std::size_t bytes)
{
    std::ifstream in(from, std::ios::binary);
    std::string data(bytes, '\0');
    in.read(data.data(), static_cast<std::streamsize>(bytes));
    std::ofstream(to, std::ios::binary).write(data.data(), in.gcount());
}

class RealModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(installedFile())) << installedFile() << " is missing: run scripts/setup";
    }
};

TEST_F(RealModel, LlamaModel_BadFilesAreExplainedWithoutLoading)
{
    test::TemporaryDirectory folder;
    const auto file = folder.path() / "model.gguf";
    LlamaLanguageModel model(LlamaLanguageModel::optionsFor(file));
    EXPECT_EQ(model.availability(), A::noModel);
    EXPECT_TRUE(failureOf(model, "q"));
    std::ofstream(folder.path() / ".model.gguf.x1y2.partial") << "";
    EXPECT_EQ(model.availability(), A::preparing);
    std::filesystem::remove(folder.path() / ".model.gguf.x1y2.partial");

    std::ofstream(file) << "not a gguf file";
    EXPECT_EQ(model.availability(), A::notModelFile);
    EXPECT_EQ(failureOf(model, "q"), LanguageModelError::Kind::unavailable);
    // Cut inside the tensor data, or inside the header.
    for (const std::size_t bytes : {std::size_t{8} << 20, std::size_t{10}}) {
        std::filesystem::remove(file);
        copyPrefix(installedFile(), file, bytes);
        EXPECT_EQ(model.availability(), A::damaged) << bytes;
    }

    // A header that checks out but a model llama.cpp cannot load: damaged after the first try, and not tried again.
    std::filesystem::remove(file);
    writeGguf(file, {{"tokenizer.chat_template", "{{ messages }}"}});
    EXPECT_EQ(model.availability(), A::available);
    EXPECT_TRUE(failureOf(model, "q"));
    EXPECT_EQ(model.availability(), A::damaged);
    // Replacing the file gives it another look.
    std::filesystem::remove(file);
    std::filesystem::create_symlink(installedFile(), file);
    EXPECT_EQ(model.availability(), A::baseModel);

    auto small = LlamaLanguageModel::optionsFor(installedFile());
    small.memoryBytes = 64 << 20;
    LlamaLanguageModel tooLarge(small);
    EXPECT_EQ(tooLarge.availability(), A::unsupported);
    EXPECT_TRUE(failureOf(tooLarge, "q"));
    EXPECT_FALSE(tooLarge.isLoaded());
}

TEST_F(RealModel, LlamaModel_KindComesFromTheHeaderNothingLoadsBeforeTheFirstRequestAndAStopCancels)
{
    test::TemporaryDirectory folder;
    // Named like an instruction-tuned model, but without a chat template it is a base model.
    const auto misleading = folder.path() / "gemma-3-1b-it-Q4_K_M.gguf";
    std::filesystem::create_symlink(installedFile(), misleading);
    // The last request is stopped from within, as soon as the model starts writing its reply.
    std::stop_source late;
    bool stopWhenWriting = false;
    auto options = LlamaLanguageModel::optionsFor(misleading);
    options.onReplyStarted = [&] {
        if (stopWhenWriting) late.request_stop();
    };
    LlamaLanguageModel model(options);
    EXPECT_EQ(model.availability(), A::baseModel);
    EXPECT_EQ(model.fileName(), "gemma-3-1b-it-Q4_K_M.gguf");
    // Stopped before the load: nothing is loaded.
    std::stop_source early;
    early.request_stop();
    EXPECT_EQ(failureOf(model, "発売日はいつですか？", early.get_token()), LanguageModelError::Kind::cancelled);
    EXPECT_FALSE(model.isLoaded());

    // The first request loads it; it is kept for the next.
    const auto reply = ask(model, "発売日はいつですか？");
    EXPECT_TRUE(model.isLoaded());
    EXPECT_EQ(model.availability(), A::baseModel);
    if (!reply.cut) {
        const auto json = nlohmann::json::parse(reply.json);
        EXPECT_TRUE(json.at("answer").is_string() && json.at("sources").is_array()) << reply.json;
    }
    // Loaded, then stopped while it writes a long reply.
    stopWhenWriting = true;
    EXPECT_EQ(failureOf(model, "この会議の内容を詳しくまとめてください。", late.get_token()),
              LanguageModelError::Kind::cancelled);
    EXPECT_TRUE(model.isLoaded());
}

// Ten tokens cannot hold a summary: the reply is marked cut, and the answer read from it ends in an ellipsis.
TEST_F(RealModel, LlamaModel_AReplyCutAtItsTokenLimitIsMarkedAndReadsAsAnAnswerEndingInAnEllipsis)
{
    auto options = LlamaLanguageModel::optionsFor(installedFile());
    options.maxReplyTokens = 10;
    LlamaLanguageModel model(options);
    const auto reply = ask(model, "この会議の内容を詳しくまとめてください。");
    EXPECT_TRUE(reply.cut);
    EXPECT_FALSE(nlohmann::json::accept(reply.json)) << reply.json;
    const auto answer = FoundationModelsConversationResponder::answerFromCutReply(reply.json, meeting());
    ASSERT_TRUE(answer.has_value()) << answer.error();
    EXPECT_TRUE(answer->text.ends_with("…")) << answer->text;
}

// The catalogue's instruction-tuned model where scripts/install-models puts it; empty when the catalogue has none.
std::filesystem::path instructionTunedFile()
{
    std::ifstream stream(AppPaths::current().catalogueFile());
    const auto catalogue = nlohmann::json::parse(stream, nullptr, false);
    if (catalogue.is_discarded()) return {};
    for (const auto& model : catalogue.at("language").at("models"))
        if (model.value("instruction_tuned", false))
            return LlamaLanguageModel::modelsFolder() / model.at("file").get<std::string>();
    return {};
}

// The real instruction-tuned model as the app uses it, through its own chat template, the reply grammar and the
// yes/no check's first-token odds.
TEST(InstructionTunedModel, Responder_CitesTheLineThatAnswersRefusesWhatWasNotSaidAndTheCheckRatesAndStops)
{
    const auto file = instructionTunedFile();
    if (file.empty() || !std::filesystem::exists(file)) {
        const auto missing = file.string() + " is not installed: scripts/install-models --no-speech-model "
                                             "--language-model qwen2.5-coder-1.5b-instruct-q4_k_m (1.1 GB)";
        const char* required = std::getenv("TC_REQUIRE_INSTRUCT_MODEL");
        if (required && std::string(required) == "1") FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    auto options = LlamaLanguageModel::optionsFor(file);
    options.threads = 2;
    // The machine running the tests is shared; this test is about what is answered, not how fast.
    options.timeLimit = std::chrono::minutes(5);
    auto model = std::make_shared<LlamaLanguageModel>(options);
    ASSERT_EQ(model->availability(), A::available) << "the header has a chat template";
    FoundationModelsConversationResponder responder(model);
    const auto excerpt = meeting();

    const auto price = responder.answer("価格はいくらですか？", excerpt);
    ASSERT_FALSE(price.sourceLineIDs.empty()) << price.text;
    EXPECT_EQ(price.sourceLineIDs.front(), excerpt.lines()[2].id) << price.text;
    EXPECT_TRUE(model->isLoaded());
    EXPECT_FALSE(price.text.starts_with("「")) << "a quote, not the model's answer: " << price.text;
    EXPECT_NE(price.text.find("九千八百"), std::string::npos) << price.text;

    const auto colour = responder.answer("新製品のパッケージは何色ですか？", excerpt);
    EXPECT_EQ(colour, (ConversationAnswer{"会話に出ていません。", {}})) << colour.text;

    const auto yesFor = [&](const std::string& line, std::stop_token stop = {}) {
        return model->probabilityOfYes(
            "会話の発言が質問の答えになっているかを判断し、「はい」か「いいえ」だけで答えてください。",
            "質問: 価格はいくらですか？\n発言: " + line + "\n\nこの発言は、この質問の答えを含んでいますか？", "はい",
            "いいえ", stop);
    };
    const double answering = yesFor(excerpt.lines()[2].text);
    const double unrelated = yesFor(excerpt.lines()[3].text);
    EXPECT_GT(answering, unrelated);
    EXPECT_TRUE(unrelated >= 0.0 && answering <= 1.0);
    std::printf("P(はい): %.3f answering, %.3f unrelated\n", answering, unrelated);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(test::thrownKind<LanguageModelError>([&] { yesFor(excerpt.lines()[2].text, stopped.get_token()); }),
              LanguageModelError::Kind::cancelled);
}

} // namespace
} // namespace tc
