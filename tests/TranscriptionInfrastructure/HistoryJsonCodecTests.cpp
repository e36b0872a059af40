#include "TranscriptionInfrastructure/HistoryJsonCodec.h"
#include "TranscriptionInfrastructure/Utf8Sanitizer.h"

#include "support/HistoryJsonReference.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

using tc::FinalizedLine;
using tc::HistoryJsonCodec;
using tc::TranscriptSession;
using tc::Utf8Sanitizer;
using tc::Uuid;

namespace {

const std::string kId = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0";

std::string randomText(std::mt19937& random)
{
    // Mostly Japanese and ASCII, with escapes, control bytes and broken sequences mixed in.
    static const std::vector<std::string> pieces{"あ",
                                                 "漢字",
                                                 "ー",
                                                 "。",
                                                 "a",
                                                 "Z",
                                                 " ",
                                                 "\"",
                                                 "\\",
                                                 "/",
                                                 "\n",
                                                 "\t",
                                                 "\x01",
                                                 "\x1f",
                                                 "\x7f",
                                                 "é",
                                                 "😀",
                                                 "\xE3\x81",
                                                 "\xFF",
                                                 "\x80",
                                                 "\xED\xA0\x80",
                                                 "\xF4\x90\x80\x80",
                                                 "\xC0\xAF",
                                                 "\xF0\x9F\x98"};
    std::string text;
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i)
        text += pieces[random() % pieces.size()];
    return text;
}

double randomDate(std::mt19937& random)
{
    std::uniform_real_distribution<double> spread(-1e9, 1e10);
    switch (random() % 4) {
    case 0: return std::floor(spread(random));
    case 1: return spread(random) * 1e-12;
    default: return spread(random);
    }
}

std::vector<TranscriptSession> randomSessions(std::mt19937& random)
{
    std::vector<TranscriptSession> sessions(random() % 4);
    for (auto& session : sessions) {
        session = {Uuid::random(), {}, randomDate(random), std::nullopt};
        if (random() % 2) session.endedAt = randomDate(random);
        const auto lines = random() % 6;
        for (std::size_t i = 0; i < lines; ++i)
            session.lines.push_back({Uuid::random(), randomText(random), randomDate(random)});
    }
    return sessions;
}

std::string nlohmannDump(const std::vector<TranscriptSession>& sessions)
{
    nlohmann::ordered_json json{{"version", 2}, {"sessions", nlohmann::ordered_json::array()}};
    for (const auto& session : sessions)
        json["sessions"].push_back(nlohmann::ordered_json(session));
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

TEST(Utf8Sanitizer, ReplacesEachMaximalIllFormedPartOnce)
{
    EXPECT_TRUE(Utf8Sanitizer::isValid("日本語 abc 😀"));
    EXPECT_FALSE(Utf8Sanitizer::isValid("\xE3\x81"));
    EXPECT_EQ(Utf8Sanitizer::sanitized("日本語"), "日本語");
    EXPECT_EQ(Utf8Sanitizer::sanitized("a\xE3\x81"
                                       "b"),
              "a\uFFFDb");
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xE3\x81"), "\uFFFD");
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xFF\xFE"), "\uFFFD\uFFFD");
    // Overlong forms, surrogates and code points past U+10FFFF are ill-formed too.
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xC0\xAF"), "\uFFFD\uFFFD");
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8Sanitizer::sanitized("\xF0\x9F\x98"
                                       "x"),
              "\uFFFDx");
}

TEST(HistoryJsonCodec, WritesExactlyWhatTheGeneralJsonLibraryWrites)
{
    std::mt19937 random(20261206);
    for (int round = 0; round < 500; ++round) {
        const auto sessions = randomSessions(random);
        const auto ours = HistoryJsonCodec::encodeStore(sessions, 1'000'000);
        ASSERT_EQ(ours, nlohmannDump(sessions)) << "round " << round;
        ASSERT_TRUE(Utf8Sanitizer::isValid(ours));
        // What was written reads back as the sanitised records, in the general library too.
        const auto decoded = HistoryJsonCodec::decodeStore(ours);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(*decoded, nlohmann::json::parse(ours)["sessions"].get<std::vector<TranscriptSession>>());
    }
}

TEST(HistoryJsonCodec, WritesNonFiniteDatesAsZeroSoTheFileStaysReadable)
{
    const TranscriptSession session{Uuid::random(), {{Uuid::random(), "x", std::nan("")}}, INFINITY, -INFINITY};
    const auto decoded = HistoryJsonCodec::decodeStore(HistoryJsonCodec::encodeStore({session}, 10));
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)[0].lines[0].time, 0);
    EXPECT_EQ((*decoded)[0].startedAt, 0);
    EXPECT_EQ((*decoded)[0].endedAt, 0);
}

TEST(HistoryJsonCodec, ReadsAnyValidSpellingOfTheLayout)
{
    const std::string line =
        R"({"time":1.5e2,"extra":{"x":[1,2,{"y":null}]},"text":"a\u3042\ud83d\ude00\/\"\n","id":")" +
        std::string("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0") + R"("})";
    const std::string file = "\xEF\xBB\xBF \n\t{ \"sessions\" : [ {\"endedAt\":null,\"lines\":[" + line +
                             "],\"id\":\"" + kId +
                             "\",\"startedAt\":-0} ] , \"version\" : 7 , \"more\":[true,false]}\r\n";
    const auto decoded = HistoryJsonCodec::decodeStore(file);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1u);
    const auto& session = (*decoded)[0];
    EXPECT_EQ(session.id.toString(), kId);
    EXPECT_FALSE(session.endedAt);
    ASSERT_EQ(session.lines.size(), 1u);
    EXPECT_EQ(session.lines[0].time, 150);
    EXPECT_EQ(session.lines[0].text, "aあ😀/\"\n");
    EXPECT_EQ(session.lines[0].id.toString(), kId);

    EXPECT_TRUE(HistoryJsonCodec::decodeStore(R"({"version":2.0,"sessions":[]})"));
    EXPECT_TRUE(HistoryJsonCodec::decodeStore(R"({"version":-3,"sessions":[]})"));
}

TEST(HistoryJsonCodec, RejectsWhatIsNotAValidHistory)
{
    const std::string good = R"({"id":")" + kId + R"(","text":"t","time":1})";
    const auto store = [&](const std::string& lineJson) {
        return R"({"version":2,"sessions":[{"id":")" + kId + R"(","lines":[)" + lineJson + R"(],"startedAt":0}]})";
    };
    ASSERT_TRUE(HistoryJsonCodec::decodeStore(store(good)));

    const std::vector<std::string> bad{
        "",
        "[]",
        R"({"version":2,"sessions":[]} x)",
        R"({"version":2,"sessions":[],})",
        R"({"version":"2","sessions":[]})",
        R"({"version":2.5,"sessions":[]})",
        R"({"version":true,"sessions":[]})",
        R"({"version":2,"sessions":{}})",
        R"({"version":2,"sessions":[{"id":")" + kId + R"(","lines":[]}]})",
        R"({"version":2,"sessions":[{"id":")" + kId + R"(","lines":[],"startedAt":0,"endedAt":"x"}]})",
        store(R"({"id":")" + kId + R"(","text":"t"})"),
        store(R"({"id":"nope","text":"t","time":1})"),
        store(R"({"id":")" + kId + R"(","text":1,"time":1})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":"1"})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":01})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":1.})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":+1})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":NaN})"),
        store(R"({"id":")" + kId + R"(","text":"t","time":1e999})"),
        store(R"({"id":")" + kId + R"(","text":"\ud800","time":1})"),
        store(R"({"id":")" + kId + R"(","text":"\x","time":1})"),
        store(R"({"id":")" + kId + "\",\"text\":\"\ttab\",\"time\":1}"),
        store(R"({"id":")" + kId + "\",\"text\":\"\xE3\x81\",\"time\":1}"),
        store(good + ","),
        store(good + R"(,"extra":[1,2)"),
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(HistoryJsonCodec::decodeStore(text));
    }

    // Deep nesting in an ignored key ends in a rejection, not a crash.
    EXPECT_FALSE(HistoryJsonCodec::decodeStore(R"({"version":2,"sessions":[],"x":)" + std::string(100000, '[')));
}

TEST(HistoryJsonCodec, SalvageDropsOnlyTheBrokenLineOrField)
{
    const auto lineWith = [](int n) {
        return R"({"id":")" + Uuid::random().toString() + R"(","text":"行)" + std::to_string(n) + R"(","time":)" +
               std::to_string(n) + "}";
    };
    const auto store = [&](const std::string& middle) {
        return R"({"version":2,"sessions":[{"id":")" + kId + R"(","lines":[)" + lineWith(1) + "," + middle + "," +
               lineWith(3) + R"(],"startedAt":0,"endedAt":9}]})";
    };
    const std::vector<std::string> brokenLines{
        R"({"id":")" + kId + R"(","text":"t"})",
        R"({"id":"nope","text":"t","time":1})",
        R"({"id":")" + kId + R"(","text":123,"time":1})",
        R"({"id":")" + kId + R"(","text":"t","time":"1"})",
        R"({"id":")" + kId + R"(","text":"t","time":1e999})",
        R"({"id":")" + kId + R"(","text":"\ud800","time":1})",
        R"({"id":")" + kId + R"(","text":"\x","time":1})",
        R"({"id":")" + kId + "\",\"text\":\"\ttab\",\"time\":1}",
        R"({"id":")" + kId + "\",\"text\":\"\xE3\x81\",\"time\":1}",
        R"({"id":")" + kId + R"(","text":["a"],"time":{"x":1}})",
        R"("not a line")",
        "null",
    };
    for (const auto& broken : brokenLines) {
        SCOPED_TRACE(broken);
        const auto text = store(broken);
        ASSERT_FALSE(HistoryJsonCodec::decodeStore(text));
        const auto salvage = HistoryJsonCodec::salvageStore(text);
        ASSERT_TRUE(salvage);
        ASSERT_EQ(salvage->sessions.size(), 1u);
        const auto& session = salvage->sessions[0];
        EXPECT_EQ(session.id.toString(), kId);
        ASSERT_EQ(session.lines.size(), 2u);
        EXPECT_EQ(session.lines[0].text, "行1");
        EXPECT_EQ(session.lines[1].text, "行3");
        EXPECT_EQ(session.endedAt, 9.0);
        EXPECT_EQ(salvage->droppedLines, 1u);
        EXPECT_EQ(salvage->droppedSessions, 0u);
        EXPECT_FALSE(salvage->cutShort);
    }

    // Damaged session fields: the lines stay, under a new id or with the first line's time as start.
    const std::string fields = R"({"version":"two","sessions":[)"
                               R"({"id":"nope","lines":[)" +
                               lineWith(5) +
                               R"(],"startedAt":5},)"
                               R"({"id":")" +
                               kId + R"(","lines":[)" + lineWith(7) +
                               R"(],"startedAt":"x","endedAt":"y"},)"
                               R"({"id":"nope","lines":[],"startedAt":1},)"
                               R"(42]})";
    const auto salvage = HistoryJsonCodec::salvageStore(fields);
    ASSERT_TRUE(salvage);
    ASSERT_EQ(salvage->sessions.size(), 2u);
    EXPECT_NE(salvage->sessions[0].id.toString(), kId);
    EXPECT_EQ(salvage->sessions[0].lines.at(0).text, "行5");
    EXPECT_EQ(salvage->sessions[1].id.toString(), kId);
    EXPECT_EQ(salvage->sessions[1].startedAt, 7.0);
    EXPECT_FALSE(salvage->sessions[1].endedAt);
    EXPECT_EQ(salvage->droppedSessions, 2u);
}

TEST(HistoryJsonCodec, SalvageOfACutFileKeepsEverythingBeforeTheCut)
{
    std::vector<TranscriptSession> sessions(3);
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        sessions[s] = {Uuid::random(), {}, 100.0 * static_cast<double>(s), std::nullopt};
        for (int i = 0; i < 5; ++i)
            sessions[s].lines.push_back({Uuid::random(), "行" + std::to_string(i), 100.0 * static_cast<double>(s) + i});
    }
    const std::string whole = HistoryJsonCodec::encodeStore(sessions, 100);
    // Cut inside the third line of the second session.
    const auto secondSession = whole.find(sessions[1].lines[2].id.toString());
    const auto salvage = HistoryJsonCodec::salvageStore(std::string_view(whole).substr(0, secondSession + 10));
    ASSERT_TRUE(salvage);
    EXPECT_TRUE(salvage->cutShort);
    ASSERT_EQ(salvage->sessions.size(), 2u);
    EXPECT_EQ(salvage->sessions[0], sessions[0]);
    EXPECT_EQ(salvage->sessions[1].id, sessions[1].id);
    ASSERT_EQ(salvage->sessions[1].lines.size(), 2u);
    EXPECT_EQ(salvage->sessions[1].startedAt, sessions[1].lines[0].time);

    // Every cut of the file salvages without failing, and never invents lines.
    for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
        const auto partial = HistoryJsonCodec::salvageStore(std::string_view(whole).substr(0, cut));
        std::size_t lines = 0;
        if (partial)
            for (const auto& s : partial->sessions)
                lines += s.lines.size();
        EXPECT_LE(lines, 15u);
    }

    // Any byte changed anywhere: the salvage still ends, and keeps at most the lines there were.
    std::mt19937 random(15);
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = whole;
        mutated[random() % mutated.size()] = static_cast<char>(random() % 256);
        const auto partial = HistoryJsonCodec::salvageStore(mutated);
        std::size_t lines = 0;
        if (partial)
            for (const auto& s : partial->sessions)
                lines += s.lines.size();
        EXPECT_LE(lines, 15u);
    }

    for (const std::string notHistory : {"", "[]", R"({"version":2})", R"({"lines":[]})", "garbage"})
        EXPECT_FALSE(HistoryJsonCodec::salvageStore(notHistory)) << notHistory;
    // Deep nesting in an ignored key ends the salvage, not the process.
    EXPECT_TRUE(HistoryJsonCodec::salvageStore(R"({"sessions":[],"x":)" + std::string(100000, '[')));
}

TEST(HistoryJsonCodec, ReadsTheOldLayoutSeparately)
{
    const std::string legacy = R"({"lines":[{"id":")" + kId + R"(","text":"古い","time":3}],"sessions":5})";
    EXPECT_FALSE(HistoryJsonCodec::decodeStore(legacy));
    const auto lines = HistoryJsonCodec::decodeLegacy(legacy);
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 1u);
    EXPECT_EQ((*lines)[0].text, "古い");
    EXPECT_FALSE(HistoryJsonCodec::decodeLegacy(R"({"version":2,"sessions":[]})"));
    EXPECT_FALSE(HistoryJsonCodec::decodeLegacy(R"({"lines":[{"id":"x","text":"t","time":1}]})"));
}
