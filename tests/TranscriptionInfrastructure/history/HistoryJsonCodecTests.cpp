#include "TranscriptionDomain/Utf8.h"
#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"

#include "support/HistoryJsonReference.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

using namespace tc;

namespace {

const std::string kId = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0";

// Mostly Japanese and ASCII, with escapes, control bytes and broken sequences mixed in.
std::string randomText(std::mt19937& random)
{
    // clang-format off
    static const std::vector<std::string> pieces{"あ", "漢字", "ー", "。", "a", "Z", " ", "\"", "\\", "/", "\n", "\t",
        "\x01", "\x1f", "\x7f", "é", "😀", "\xE3\x81", "\xFF", "\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF",
        "\xF0\x9F\x98"};
    // clang-format on
    std::string text;
    for (auto count = random() % 12; count > 0; --count)
        text += pieces[random() % pieces.size()];
    return text;
}

double randomDate(std::mt19937& random)
{
    const double date = std::uniform_real_distribution<double>(-1e9, 1e10)(random);
    switch (random() % 4) {
    case 0: return std::floor(date);
    case 1: return date * 1e-12;
    default: return date;
    }
}

std::vector<TranscriptSession> randomSessions(std::mt19937& random)
{
    std::vector<TranscriptSession> sessions(random() % 4);
    for (auto& session : sessions) {
        session = {Uuid::random(), {}, randomDate(random), std::nullopt};
        if (random() % 2) session.endedAt = randomDate(random);
        for (auto lines = random() % 6; lines > 0; --lines) {
            FinalizedLine line{Uuid::random(), randomText(random), randomDate(random)};
            if (random() % 2) line.start = randomDate(random);
            if (random() % 2) line.end = randomDate(random);
            if (random() % 2) line.speaker = static_cast<SpeakerLabel>(random() % 3);
            session.lines.push_back(std::move(line));
        }
    }
    return sessions;
}

std::string lineJson(const std::string& id, const std::string& fields)
{
    return R"({"id":")" + id + "\"," + fields + "}";
}

std::string storeJson(const std::string& lines, const std::string& sessionFields = R"(,"startedAt":0,"endedAt":9)")
{
    return R"({"version":2,"sessions":[{"id":")" + kId + R"(","lines":[)" + lines + "]" + sessionFields + "}]}";
}

std::size_t lineCount(const std::optional<HistoryJsonCodec::Salvage>& salvage)
{
    std::size_t lines = 0;
    if (salvage)
        for (const auto& session : salvage->sessions)
            lines += session.lines.size();
    return lines;
}

} // namespace

TEST(HistoryJsonCodec, WritesExactlyWhatTheGeneralJsonLibraryWrites)
{
    std::mt19937 random(20261206);
    for (int round = 0; round < 500; ++round) {
        const auto sessions = randomSessions(random);
        nlohmann::ordered_json reference{{"version", 2}, {"sessions", nlohmann::ordered_json::array()}};
        for (const auto& session : sessions)
            reference["sessions"].push_back(nlohmann::ordered_json(session));
        const auto ours = HistoryJsonCodec::encodeStore(sessions, 1'000'000);
        ASSERT_EQ(ours, reference.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace))
            << "round " << round;
        ASSERT_TRUE(Utf8::isValid(ours));
        // What was written reads back as the sanitised records, in the general library and the salvage too.
        const auto decoded = HistoryJsonCodec::decodeStore(ours).value();
        ASSERT_EQ(decoded, nlohmann::json::parse(ours)["sessions"].get<std::vector<TranscriptSession>>());
        ASSERT_EQ(HistoryJsonCodec::salvageStore(ours).value().sessions, decoded);
    }
}

TEST(HistoryJsonCodec, ReadsAnyValidSpellingOfTheLayoutAndTheOldLayoutSeparately)
{
    const std::string line =
        lineJson("0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0",
                 R"("time":1.5e2,"extra":{"x":[1,2,{"y":null}]},"text":"a\u3042\ud83d\ude00\ud800\udc00\/\"\n")");
    const std::string file = "\xEF\xBB\xBF \n\t{ \"sessions\" : [ {\"endedAt\":null,\"lines\":[" + line +
                             "],\"id\":\"" + kId +
                             "\",\"startedAt\":-0} ] , \"version\" : 7 , \"more\":[true,false]}\r\n";
    const auto session = HistoryJsonCodec::decodeStore(file).value().at(0);
    EXPECT_EQ(session.id.toString(), kId);
    EXPECT_FALSE(session.endedAt);
    ASSERT_EQ(session.lines.size(), 1u);
    EXPECT_EQ(session.lines[0].time, 150);
    EXPECT_EQ(session.lines[0].text, "aあ😀\U00010000/\"\n");
    EXPECT_EQ(session.lines[0].id.toString(), kId);
    EXPECT_TRUE(HistoryJsonCodec::decodeStore(R"({"version":2.0,"sessions":[]})"));
    EXPECT_TRUE(HistoryJsonCodec::decodeStore(R"({"version":-3,"sessions":[]})"));

    // Optional line keys of another type or value are ignored; a label this release does not know is dropped.
    const auto decodeLine = [&](const std::string& extra) {
        return HistoryJsonCodec::decodeStore(storeJson(lineJson(kId, R"("text":"行","time":5)" + extra)))
            .value()
            .at(0)
            .lines.at(0);
    };
    for (const std::string extra : {R"(,"start":null,"end":null,"speaker":null)",
                                    R"(,"start":"1.0","end":[2],"speaker":{"a":1})", R"(,"speaker":"司会")"}) {
        const auto decoded = decodeLine(extra);
        EXPECT_FALSE(decoded.start || decoded.end || decoded.speaker) << extra;
    }
    EXPECT_EQ(decodeLine(R"(,"speaker":"司会","start":-0.25)").start, -0.25);

    const std::string legacy = R"({"lines":[{"id":")" + kId + R"(","text":"古い","time":3}],"sessions":5})";
    EXPECT_FALSE(HistoryJsonCodec::decodeStore(legacy));
    EXPECT_EQ(HistoryJsonCodec::decodeLegacy(legacy).value().at(0).text, "古い");
    EXPECT_FALSE(HistoryJsonCodec::decodeLegacy(R"({"version":2,"sessions":[]})"));
    EXPECT_FALSE(HistoryJsonCodec::decodeLegacy(R"({"lines":[{"id":"x","text":"t","time":1}]})"));
}

TEST(HistoryJsonCodec, RejectsWhatIsNotAValidHistoryAndSalvageDropsOnlyTheBrokenPart)
{
    for (const std::string& text :
         std::vector<std::string>{"", "[]", R"({"version":2,"sessions":[]} x)", R"({"version":2,"sessions":[],})",
                                  R"({"version":"2","sessions":[]})", R"({"version":2.5,"sessions":[]})",
                                  R"({"version":true,"sessions":[]})", R"({"version":2,"sessions":{}})",
                                  storeJson("", ""), storeJson("", R"(,"startedAt":0,"endedAt":"x")"),
                                  // Broken JSON inside an optional key is still broken JSON.
                                  storeJson(lineJson(kId, R"("text":"t","time":1,"start":1.)")),
                                  // Deep nesting in an ignored key ends in a rejection, not a crash.
                                  R"({"version":2,"sessions":[],"x":)" + std::string(100000, '[')})
        EXPECT_FALSE(HistoryJsonCodec::decodeStore(text)) << text.substr(0, 80);

    const auto numbered = [](int n) {
        return lineJson(Uuid::random().toString(),
                        R"("text":"行)" + std::to_string(n) + R"(","time":)" + std::to_string(n));
    };
    ASSERT_TRUE(HistoryJsonCodec::decodeStore(storeJson(numbered(1))));
    struct Case {
        std::string line;
        bool salvaged; // false: broken syntax, which the salvage need not step over
    };
    const auto bad = [](const std::string& fields, bool salvaged = true) {
        return Case{lineJson(kId, fields), salvaged};
    };
    // clang-format off
    const std::vector<Case> cases{bad(R"("text":"t")"), {lineJson("nope", R"("text":"t","time":1)"), true},
        bad(R"("text":123,"time":1)"), bad(R"("text":"t","time":"1")"), bad(R"("text":"t","time":1e999)"),
        bad(R"("text":"\ud800","time":1)"), bad(R"("text":"\ud83d\u0041","time":1)"), bad(R"("text":"\x","time":1)"),
        bad("\"text\":\"\ttab\",\"time\":1"),
        bad("\"text\":\"\xE3\x81\",\"time\":1"), bad(R"("text":["a"],"time":{"x":1})"), {R"("not a line")", true},
        {"null", true}, bad(R"("text":"t","time":01)", false), bad(R"("text":"t","time":1.)", false),
        bad(R"("text":"t","time":+1)", false), bad(R"("text":"t","time":NaN)", false), {numbered(2) + ",", false},
        {numbered(2) + R"(,"extra":[1,2)", false}};
    // clang-format on
    for (const auto& [line, salvaged] : cases) {
        SCOPED_TRACE(line);
        const auto text = storeJson(numbered(1) + "," + line + "," + numbered(3));
        EXPECT_FALSE(HistoryJsonCodec::decodeStore(text));
        if (!salvaged) continue;
        const auto salvage = HistoryJsonCodec::salvageStore(text);
        ASSERT_TRUE(salvage);
        ASSERT_EQ(salvage->sessions.size(), 1u);
        EXPECT_EQ(salvage->sessions[0].id.toString(), kId);
        ASSERT_EQ(salvage->sessions[0].lines.size(), 2u);
        EXPECT_EQ(salvage->sessions[0].lines[0].text, "行1");
        EXPECT_EQ(salvage->sessions[0].lines[1].text, "行3");
        EXPECT_EQ(salvage->sessions[0].endedAt, 9.0);
        EXPECT_EQ(salvage->droppedLines, 1u);
        EXPECT_EQ(salvage->droppedSessions, 0u);
        EXPECT_FALSE(salvage->cutShort);
    }

    // Damaged session fields: the lines stay, under a new id or with the first line's time as start.
    const auto salvage = HistoryJsonCodec::salvageStore(
        R"({"version":"two","sessions":[{"id":"nope","lines":[)" + numbered(5) + R"(],"startedAt":5},{"id":")" + kId +
        R"(","lines":[)" + numbered(7) +
        R"(],"startedAt":"x","endedAt":"y"},{"id":"nope","lines":[],"startedAt":1},42]})");
    ASSERT_TRUE(salvage);
    ASSERT_EQ(salvage->sessions.size(), 2u);
    EXPECT_NE(salvage->sessions[0].id.toString(), kId);
    EXPECT_EQ(salvage->sessions[0].lines.at(0).text, "行5");
    EXPECT_EQ(salvage->sessions[1].id.toString(), kId);
    EXPECT_EQ(salvage->sessions[1].startedAt, 7.0);
    EXPECT_FALSE(salvage->sessions[1].endedAt);
    EXPECT_EQ(salvage->droppedSessions, 2u);
}

TEST(HistoryJsonCodec, SalvageOfACutOrChangedFileKeepsEverythingBeforeTheDamageAndInventsNothing)
{
    std::vector<TranscriptSession> sessions(3);
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        sessions[s] = {Uuid::random(), {}, 100.0 * static_cast<double>(s), std::nullopt};
        for (int i = 0; i < 5; ++i)
            sessions[s].lines.push_back({Uuid::random(), "行" + std::to_string(i), 100.0 * static_cast<double>(s) + i});
    }
    const std::string whole = HistoryJsonCodec::encodeStore(sessions, 100);
    // Cut inside the third line of the second session.
    const auto cutAt = whole.find(sessions[1].lines[2].id.toString()) + 10;
    const auto salvage = HistoryJsonCodec::salvageStore(std::string_view(whole).substr(0, cutAt));
    ASSERT_TRUE(salvage);
    EXPECT_TRUE(salvage->cutShort);
    ASSERT_EQ(salvage->sessions.size(), 2u);
    EXPECT_EQ(salvage->sessions[0], sessions[0]);
    EXPECT_EQ(salvage->sessions[1].id, sessions[1].id);
    ASSERT_EQ(salvage->sessions[1].lines.size(), 2u);
    EXPECT_EQ(salvage->sessions[1].startedAt, sessions[1].lines[0].time);

    // Every cut, and any byte changed anywhere: the salvage ends and keeps at most the lines there were.
    for (std::size_t cut = 0; cut < whole.size(); cut += 7)
        EXPECT_LE(lineCount(HistoryJsonCodec::salvageStore(std::string_view(whole).substr(0, cut))), 15u);
    std::mt19937 random(15);
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = whole;
        mutated[random() % mutated.size()] = static_cast<char>(random() % 256);
        EXPECT_LE(lineCount(HistoryJsonCodec::salvageStore(mutated)), 15u);
    }

    for (const std::string notHistory : {"", "[]", R"({"version":2})", R"({"lines":[]})", "garbage"})
        EXPECT_FALSE(HistoryJsonCodec::salvageStore(notHistory)) << notHistory;
    EXPECT_TRUE(HistoryJsonCodec::salvageStore(R"({"sessions":[],"x":)" + std::string(100000, '[')));
}

TEST(HistoryJsonCodec, TimesThatAreNotFiniteAreLeftOutOrWrittenAsZero)
{
    FinalizedLine timed{Uuid::random(), "時刻付きの行", 101.25, std::nan(""), 3.75};
    // A time that is not finite is left out rather than written as a made-up 0.
    const auto decoded =
        HistoryJsonCodec::decodeStore(HistoryJsonCodec::encodeStore({{Uuid::random(), {timed}, 100, {}}}, 10));
    EXPECT_FALSE(decoded.value().at(0).lines.at(0).start);
    EXPECT_EQ(decoded->at(0).lines.at(0).end, 3.75);
    // A required date that is not finite is written as 0, so the file stays readable.
    const TranscriptSession infinite{Uuid::random(), {{Uuid::random(), "x", std::nan("")}}, INFINITY, -INFINITY};
    const auto zeros = HistoryJsonCodec::decodeStore(HistoryJsonCodec::encodeStore({infinite}, 10)).value().at(0);
    EXPECT_EQ(zeros.lines.at(0).time, 0);
    EXPECT_EQ(zeros.startedAt, 0);
    EXPECT_EQ(zeros.endedAt, 0);
}
