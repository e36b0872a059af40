#pragma once

#include <QString>

#include <filesystem>
#include <optional>

namespace tc {

// What the "言語モデル" page says about a language model file: its size, whether it is instruction-tuned, and
// whether and how it will answer questions, by the same check the answering model makes. Any thread; no state.
class LanguageModelFileReport {
public:
    struct State {
        QString file;
        bool isDefault = true;
        QString size;
        // Nothing when the file's header cannot be read.
        std::optional<bool> instructionTuned;
        // Why the file cannot answer questions, and what to do; empty when it can (or answers with quotes).
        QString problem;
        // How questions will be answered with it.
        QString note;
    };

    // Reads the file's header and asks the language model whether it is available; isDefault is passed through.
    static State of(const std::filesystem::path& file, bool isDefault);
};

} // namespace tc
