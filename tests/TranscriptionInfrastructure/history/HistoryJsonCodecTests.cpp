#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"
#include "TranscriptionInfrastructure/files/Utf8Sanitizer.h"

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
        for (std::size_t i = 0; i < lines; ++i) {
            FinalizedLine line{Uuid::random(), randomText(random), randomDate(random)};
            if (random() % 2) line.start = randomDate(random);
            if (random() % 2) line.end = randomDate(random);
            if (random() % 2) line.speaker = static_cast<tc::SpeakerLabel>(random() % 3);
            session.lines.push_back(std::move(line));
        }
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

TEST(HistoryJsonCodec, RoundTripsLinesWithAndWithoutRecognizedTimesAndSpeaker)
{
    FinalizedLine bare{Uuid::random(), "古い行", 100.5};
    FinalizedLine timed{Uuid::random(), "時刻付きの行", 101.25};
    timed.start = 0.5;
    timed.end = 3.75;
    FinalizedLine labelled{Uuid::random(), "話者付きの行", 102};
    labelled.start = 4;
    labelled.end = 6.5;
    labelled.speaker = tc::SpeakerLabel::other;
    FinalizedLine overlap{Uuid::random(), "重なった行", 103};
    overlap.speaker = tc::SpeakerLabel::overlap;
    const std::vector<TranscriptSession> sessions{{Uuid::random(), {bare, timed, labelled, overlap}, 100, 110.0}};

    const auto bytes = HistoryJsonCodec::encodeStore(sessions, 5000);
    EXPECT_EQ(HistoryJsonCodec::decodeStore(bytes), sessions);
    EXPECT_EQ(HistoryJsonCodec::salvageStore(bytes)->sessions, sessions);

    // A line without the new fields is written exactly as before.
    const auto bareOnly = HistoryJsonCodec::encodeStore({{sessions[0].id, {bare}, 100, std::nullopt}}, 5000);
    EXPECT_EQ(bareOnly, "{\"version\":2,\"sessions\":[{\"id\":\"" + sessions[0].id.toString() +
                            "\",\"lines\":[{\"id\":\"" + bare.id.toString() +
                            "\",\"text\":\"古い行\",\"time\":100.5}],\"startedAt\":100.0}]}");
    EXPECT_NE(bytes.find("\"start\":0.5,\"end\":3.75}"), std::string::npos);
    EXPECT_NE(bytes.find("\"start\":4.0,\"end\":6.5,\"speaker\":\"other\"}"), std::string::npos);

    // A time that is not finite is left out rather than written as a made-up 0.
    FinalizedLine broken = timed;
    broken.start = std::nan("");
    const auto brokenBytes = HistoryJsonCodec::encodeStore({{sessions[0].id, {broken}, 100, std::nullopt}}, 5000);
    const auto decoded = HistoryJsonCodec::decodeStore(brokenBytes);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->at(0).lines.at(0).start);
    EXPECT_EQ(decoded->at(0).lines.at(0).end, 3.75);
    // A required date that is not finite is written as 0, so the file stays readable.
    const TranscriptSession infinite{Uuid::random(), {{Uuid::random(), "x", std::nan("")}}, INFINITY, -INFINITY};
    const auto zeros = HistoryJsonCodec::decodeStore(HistoryJsonCodec::encodeStore({infinite}, 10));
    ASSERT_TRUE(zeros);
    EXPECT_EQ((*zeros)[0].lines[0].time, 0);
    EXPECT_EQ((*zeros)[0].startedAt, 0);
    EXPECT_EQ((*zeros)[0].endedAt, 0);
}

TEST(HistoryJsonCodec, NewFileStillLoadsUnderThePreviousReleaseRules)
{
    FinalizedLine labelled{Uuid::random(), "相手の行", 200};
    labelled.start = 1.5;
    labelled.end = 2.5;
    labelled.speaker = tc::SpeakerLabel::self;
    const FinalizedLine bare{Uuid::random(), "ラベルのない行", 201};
    const std::vector<TranscriptSession> sessions{{Uuid::random(), {labelled, bare}, 199, 205.0},
                                                  {Uuid::random(), {bare}, 150, std::nullopt}};

    // The release before the recognized times and speaker labels required an integer version, these session and
    // line keys with these types, and ignored every other key; at() throws where it would have failed.
    const auto json = nlohmann::json::parse(HistoryJsonCodec::encodeStore(sessions, 5000));
    (void)json.at("version").get<std::int64_t>();
    ASSERT_EQ(json.at("sessions").size(), 2u);
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        const auto& session = json["sessions"][s];
        EXPECT_EQ(session.at("id").get<std::string>(), sessions[s].id.toString());
        EXPECT_EQ(session.at("startedAt").get<double>(), sessions[s].startedAt);
        ASSERT_EQ(session.at("lines").size(), sessions[s].lines.size());
        for (std::size_t i = 0; i < sessions[s].lines.size(); ++i) {
            const auto& line = session["lines"][i];
            EXPECT_EQ(line.at("id").get<std::string>(), sessions[s].lines[i].id.toString());
            EXPECT_EQ(line.at("text").get<std::string>(), sessions[s].lines[i].text);
            EXPECT_EQ(line.at("time").get<double>(), sessions[s].lines[i].time);
        }
    }
}

TEST(HistoryJsonCodec, OptionalLineKeysOfAnotherTypeOrValueAreIgnored)
{
    const std::string line = "{\"id\":\"" + kId + "\",\"text\":\"行\",\"time\":5";
    const auto decodeLine = [&](const std::string& extra) {
        const auto sessions = HistoryJsonCodec::decodeStore("{\"version\":2,\"sessions\":[{\"id\":\"" + kId +
                                                            "\",\"lines\":[" + line + extra + "}],\"startedAt\":1}]}");
        return sessions ? std::optional(sessions->at(0).lines.at(0)) : std::nullopt;
    };
    const auto nulls = decodeLine(",\"start\":null,\"end\":null,\"speaker\":null");
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->start || nulls->end || nulls->speaker);
    const auto mistyped = decodeLine(",\"start\":\"1.0\",\"end\":[2],\"speaker\":{\"a\":1}");
    ASSERT_TRUE(mistyped);
    EXPECT_FALSE(mistyped->start || mistyped->end || mistyped->speaker);
    // A label this release does not know is dropped; the line stays.
    const auto unknown = decodeLine(",\"speaker\":\"司会\",\"start\":-0.25");
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->speaker);
    EXPECT_EQ(unknown->start, -0.25);
    // Broken JSON inside an optional key is still broken JSON.
    EXPECT_FALSE(decodeLine(",\"start\":1.}"));
}
