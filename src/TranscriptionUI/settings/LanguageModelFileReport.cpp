#include "TranscriptionUI/settings/LanguageModelFileReport.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/assistant/GgufModelFile.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionUI/settings/SettingsModel.h"

namespace tc {

namespace {

QString problemFor(LanguageModel::Availability state)
{
    using A = LanguageModel::Availability;
    switch (state) {
    case A::available:
    case A::loading:
    case A::baseModel: return {};
    case A::preparing: return QStringLiteral("このモデルはインストール中です。終わるまでは会話からの引用で答えます。");
    case A::noModel:
        return QStringLiteral("ファイルが見つかりません。別のファイルを選ぶか「既定に戻す」を押してください。");
    case A::notModelFile:
        return QStringLiteral("GGUF 形式のモデルではないため使えません。別のファイルを選んでください。");
    case A::damaged:
        return QStringLiteral(
            "ファイルが壊れているか途中までしかないため使えません。入れ直すか、別のファイルを選んでください。");
    case A::unsupported:
        return QStringLiteral("このコンピュータのメモリには大きすぎるため使えません。より小さなモデル（1B〜4B の "
                              "Q4_K_M など）を選んでください。");
    }
    return {};
}

} // namespace

LanguageModelFileReport::State LanguageModelFileReport::of(const std::filesystem::path& file, bool isDefault)
{
    State state;
    state.isDefault = isDefault;
    state.file = QString::fromStdString(file.string());
    const auto inspection = GgufModelFile::inspect(file);
    state.size = inspection.format == GgufModelFile::Format::unreadable ? QStringLiteral("—")
                                                                        : SettingsModel::sizeText(inspection.fileBytes);
    if (inspection.format == GgufModelFile::Format::gguf) state.instructionTuned = inspection.hasChatTemplate;
    // The same check the answering model makes, so the window and the questions agree.
    const auto availability = CompositionRoot::makeLanguageModel(file)->availability();
    state.problem = problemFor(availability);
    if (availability == LanguageModel::Availability::baseModel)
        state.note = QStringLiteral("指示に従うよう調整されていないモデルのため、質問には会話からの引用で答えます。");
    else if (state.problem.isEmpty())
        state.note = QStringLiteral("質問にはこのモデルが答えます。次の質問から使われます。");
    return state;
}

} // namespace tc
