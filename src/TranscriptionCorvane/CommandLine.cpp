#include "TranscriptionCorvane/CommandLine.h"

#include "TranscriptionDomain/BlankText.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <optional>

namespace tc {

namespace {

const QString kProgram = QStringLiteral("transcription-corvane");

struct OptionText {
    QStringList names;
    // Empty for a switch.
    QString valueName;
    QString description;
};

// Every option the program reads, in the order --help lists them.
const std::vector<OptionText>& options()
{
    static const std::vector<OptionText> value{
        {{"h", "help"}, {}, "この使い方を表示して終了します。"},
        {{"v", "version"}, {}, "バージョンを表示して終了します。"},
        {{"transcribe"},
         "音声ファイル",
         "音声ファイルを文字起こしして、確定した行を順に表示します（「-」で標準入力）。"},
        {{"model"}, "モデル名", "--transcribe で使う音声認識モデル（例: base）。省略すると既定のモデルです。"},
        {{"format"}, "形式", "--transcribe の結果を srt、vtt、txt、md のどれかで最後にまとめて出力します。"},
        {{"ask"}, "質問", "文字起こしファイルについて質問して、答えと根拠の行番号を表示します。"},
        {{"transcript"}, "ファイル", "--ask で質問する文字起こしファイル（テキストか Markdown の書き出し）。"},
        {{"json"}, {}, "--ask の答えと根拠の行番号を JSON で出力します。"},
        {{"language-model"}, "ファイル", "--ask で使う GGUF 言語モデル。省略するとウィンドウと同じモデルです。"},
        {{"print-paths"}, {}, "アプリが使うフォルダとファイル（履歴、モデル、設定など）を表示して終了します。"},
    };
    return value;
}

// Qt's own options, read by the window (QGuiApplication, QApplication and the X11 back end): accepted here so
// that they reach it, and not listed.
const std::vector<OptionText>& qtOptions()
{
    static const std::vector<OptionText> value{
        {{"platform"}, "p", {}},
        {{"platformpluginpath"}, "p", {}},
        {{"platformtheme"}, "p", {}},
        {{"plugin"}, "p", {}},
        {{"qwindowgeometry"}, "p", {}},
        {{"geometry"}, "p", {}},
        {{"qwindowicon"}, "p", {}},
        {{"icon"}, "p", {}},
        {{"qwindowtitle"}, "p", {}},
        {{"title"}, "p", {}},
        {{"session"}, "p", {}},
        {{"display"}, "p", {}},
        {{"name"}, "p", {}},
        {{"visual"}, "p", {}},
        {{"style"}, "p", {}},
        {{"stylesheet"}, "p", {}},
        {{"qmljsdebugger"}, "p", {}},
        {{"im"}, "p", {}},
        {{"inputstyle"}, "p", {}},
        {{"reverse"}, {}, {}},
        {{"widgetcount"}, {}, {}},
        {{"ncols"}, "p", {}},
        {{"cmap"}, {}, {}},
        {{"nograb"}, {}, {}},
        {{"dograb"}, {}, {}},
        {{"sync"}, {}, {}},
        {{"testability"}, {}, {}},
    };
    return value;
}

const std::string kTranscribeUsage = "transcription-corvane --transcribe 音声ファイル（「-」で標準入力） "
                                     "[--model モデル名] [--format srt|vtt|txt|md]";
const std::string kAskUsage = "transcription-corvane --ask 質問 --transcript 文字起こしファイル [--json] "
                              "[--language-model モデルファイル.gguf]";
const std::string kMore = "詳しくは「transcription-corvane --help」を見てください。\n";

enum class Topic { general, transcribe, ask };

std::string usage(Topic topic)
{
    switch (topic) {
    case Topic::transcribe: return "使い方: " + kTranscribeUsage + "\n" + kMore;
    case Topic::ask: return "使い方: " + kAskUsage + "\n" + kMore;
    case Topic::general: break;
    }
    return "使い方: transcription-corvane [オプション]\n"
           "　または " +
           kTranscribeUsage + "\n　または " + kAskUsage + "\n" + kMore;
}

CommandLine::UsageError refused(const QString& message, Topic topic)
{
    return CommandLine::UsageError{message.toStdString(), usage(topic)};
}

Topic topicOf(const QString& option)
{
    if (QStringList{"transcribe", "model", "format"}.contains(option)) return Topic::transcribe;
    if (QStringList{"ask", "transcript", "json", "language-model"}.contains(option)) return Topic::ask;
    return Topic::general;
}

// What an option's value must be, said when it is missing.
QString missingValue(const QString& option)
{
    if (option == "transcribe") return QStringLiteral("--transcribe には音声ファイルを指定してください。");
    if (option == "model") return QStringLiteral("--model にはモデル名（例: base）を指定してください。");
    if (option == "format") return QStringLiteral("--format には srt、vtt、txt、md のどれかを指定してください。");
    if (option == "ask") return QStringLiteral("--ask に質問を指定してください。");
    if (option == "transcript") return QStringLiteral("--transcript には文字起こしファイルを指定してください。");
    if (option == "language-model")
        return QStringLiteral("--language-model には GGUF モデルファイルを指定してください。");
    return QStringLiteral("-%1 には値を指定してください。").arg(option);
}

const OptionText* optionNamed(const QString& name)
{
    for (const auto* list : {&options(), &qtOptions()})
        for (const auto& option : *list)
            if (option.names.contains(name)) return &option;
    return nullptr;
}

// The option an argument spells ("--model", "-model=x"), when it is one of ours or Qt's.
const OptionText* optionSpelledBy(const QString& argument)
{
    if (!argument.startsWith('-') || argument == "-" || argument == "--") return nullptr;
    QString name = argument.mid(argument.startsWith("--") ? 2 : 1);
    name = name.left(name.indexOf('='));
    return optionNamed(name);
}

// The terminal's width of a text: East Asian wide characters take two columns.
int columns(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 && (c.unicode() <= 0x115f || (c.unicode() >= 0x2e80 && c.unicode() <= 0xa4cf) ||
                                           (c.unicode() >= 0xac00 && c.unicode() <= 0xd7a3) ||
                                           (c.unicode() >= 0xf900 && c.unicode() <= 0xfaff) ||
                                           (c.unicode() >= 0xfe30 && c.unicode() <= 0xfe4f) ||
                                           (c.unicode() >= 0xff00 && c.unicode() <= 0xff60) ||
                                           (c.unicode() >= 0xffe0 && c.unicode() <= 0xffe6))
                     ? 2
                     : 1;
    return width;
}

QString spelling(const OptionText& option)
{
    QStringList names;
    for (const auto& name : option.names)
        names << (name.size() == 1 ? "-" : "--") + name;
    QString text = names.join(QStringLiteral(", "));
    if (!option.valueName.isEmpty()) text += ' ' + option.valueName;
    // Long-only options line up with the long names of the ones that have a short one.
    return option.names.size() == 1 ? QStringLiteral("    ") + text : text;
}

// Ours and Qt's, so that Qt's reach the window.
void addEveryOption(QCommandLineParser& parser)
{
    // Qt's own options are single-dash words (-platform); ours read the same with one dash or two.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const auto* list : {&options(), &qtOptions()})
        for (const auto& option : *list)
            parser.addOption(option.valueName.isEmpty() ? QCommandLineOption(option.names)
                                                        : QCommandLineOption(option.names, {}, option.valueName));
}

// Why the parser refused the arguments, said for the option at fault.
CommandLine::UsageError parserRefusal(const QCommandLineParser& parser, const QStringList& arguments)
{
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        const QString& name = unknown.first();
        return refused(QStringLiteral("不明なオプションです: %1%2").arg(name.size() == 1 ? "-" : "--", name),
                       Topic::general);
    }
    // The parser's other refusals: a value missing at the end, or a value given to a switch.
    for (const QString& argument : arguments) {
        const OptionText* option = optionSpelledBy(argument);
        if (option && option->valueName.isEmpty() && argument.contains('='))
            return refused(QStringLiteral("--%1 には値を付けられません。").arg(option->names.last()),
                           topicOf(option->names.last()));
    }
    if (const OptionText* option = arguments.isEmpty() ? nullptr : optionSpelledBy(arguments.last()))
        return refused(missingValue(option->names.last()), topicOf(option->names.last()));
    return refused(QStringLiteral("引数を読み取れませんでした。"), Topic::general);
}

// A value that is itself an option means the value was left out ("--ask --transcript t.txt"), and so is an
// empty one ("--model=").
std::optional<CommandLine::UsageError> missingValueGiven(const QCommandLineParser& parser)
{
    for (const auto& option : options()) {
        const QString& name = option.names.last();
        if (option.valueName.isEmpty() || !parser.isSet(name)) continue;
        const QString value = parser.value(name);
        if (value.isEmpty() || optionSpelledBy(value)) return refused(missingValue(name), topicOf(name));
    }
    return std::nullopt;
}

CommandLine::Command printPaths(const QCommandLineParser& parser)
{
    for (const auto& option : options())
        if (option.names.last() != "print-paths" && parser.isSet(option.names.last()))
            return refused(QStringLiteral("--print-paths はほかのオプションと一緒には指定できません。"),
                           Topic::general);
    return CommandLine::PrintPaths{};
}

// Both commands at once, or an option without the command it belongs to.
std::optional<CommandLine::UsageError> misplacedOption(const QCommandLineParser& parser)
{
    const bool transcribe = parser.isSet("transcribe");
    const bool asking = parser.isSet("ask");
    if (transcribe && asking)
        return refused(QStringLiteral("--transcribe と --ask は一緒には指定できません。"), Topic::general);
    for (const char* name : {"model", "format"})
        if (!transcribe && parser.isSet(name))
            return refused(QStringLiteral("--%1 は --transcribe と一緒に指定してください。").arg(name),
                           Topic::transcribe);
    for (const char* name : {"transcript", "json", "language-model"})
        if (!asking && parser.isSet(name))
            return refused(QStringLiteral("--%1 は --ask と一緒に指定してください。").arg(name), Topic::ask);
    return std::nullopt;
}

CommandLine::Command transcription(const QCommandLineParser& parser)
{
    HeadlessTranscription::Options command{parser.value("transcribe").toStdString(),
                                           parser.value("model").toStdString(), std::nullopt};
    if (parser.isSet("format")) {
        command.format = exportFormatFromExtension(parser.value("format").toStdString());
        if (!command.format) return refused(missingValue("format"), Topic::transcribe);
    }
    return command;
}

CommandLine::Command question(const QCommandLineParser& parser)
{
    HeadlessQuestion::Options command;
    command.question = parser.value("ask").toStdString();
    if (isBlankText(command.question)) return refused(missingValue("ask"), Topic::ask);
    if (!parser.isSet("transcript"))
        return refused(QStringLiteral("--transcript に質問する文字起こしファイルを指定してください。"), Topic::ask);
    command.transcript = parser.value("transcript").toStdString();
    command.json = parser.isSet("json");
    command.languageModel = parser.value("language-model").toStdString();
    return command;
}

} // namespace

QStringList CommandLine::fromMain(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

CommandLine::Command CommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    addEveryOption(parser);
    if (!parser.parse(QStringList{kProgram} + arguments)) return parserRefusal(parser, arguments);
    if (parser.isSet("help")) return ShowHelp{};
    if (parser.isSet("version")) return ShowVersion{};
    if (auto refusal = missingValueGiven(parser)) return *refusal;
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return refused(QStringLiteral("余分な引数があります: %1").arg(extra.first()), Topic::general);
    if (parser.isSet("print-paths")) return printPaths(parser);
    if (auto refusal = misplacedOption(parser)) return *refusal;
    if (parser.isSet("transcribe")) return transcription(parser);
    if (parser.isSet("ask")) return question(parser);
    return OpenWindow{};
}

std::string CommandLine::helpText()
{
    QString text = QStringLiteral("使い方: transcription-corvane [オプション]\n"
                                  "日本語の音声をこのコンピュータの中だけで文字起こしします。"
                                  "オプションを付けずに起動するとウィンドウを開きます。\n\n"
                                  "ウィンドウを開かずに使うとき:\n  ") +
                   QString::fromStdString(kTranscribeUsage) + QStringLiteral("\n  ") +
                   QString::fromStdString(kAskUsage) + QStringLiteral("\n\nオプション:\n");
    int width = 0;
    for (const auto& option : options())
        width = std::max(width, columns(spelling(option)));
    for (const auto& option : options()) {
        const QString left = spelling(option);
        text += QStringLiteral("  ") + left + QString(width - columns(left) + 2, ' ') + option.description + '\n';
    }
    text += QStringLiteral("\nウィンドウを開くときは Qt の標準オプション（-platform など）も使えます。\n"
                           "終了コード: 0 は成功、1 は処理の失敗、2 はオプションの誤りです。\n");
    return text.toStdString();
}

std::string CommandLine::versionText()
{
    return kProgram.toStdString() + " " + TC_VERSION + "\n";
}

} // namespace tc
