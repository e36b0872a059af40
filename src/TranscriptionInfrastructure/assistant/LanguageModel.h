#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>

namespace tc {

// Why a request to the language model failed; what() is Japanese text for the user.
class LanguageModelError : public std::runtime_error {
public:
    enum class Kind { unavailable, cancelled, timedOut, incomplete, failed };

    LanguageModelError(Kind kind, const std::string& message) : std::runtime_error(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// A local language model that answers in JSON under a schema. Implementations are thread-safe; respond()
// belongs off the UI thread.
class LanguageModel {
public:
    enum class Availability {
        // An instruction-tuned model (it has a chat template); loaded by the first request, then kept.
        available,
        // Being loaded for a request right now.
        loading,
        // A model without a chat template: it continues text instead of following instructions.
        baseModel,
        // A model file is being installed.
        preparing,
        // No model file is installed.
        noModel,
        // The file is not a GGUF model.
        notModelFile,
        // The file is cut short or could not be loaded.
        damaged,
        // This computer has too little memory for the model.
        unsupported,
    };

    // A reply's JSON text; cut when the token or time limit ended it early (the text is then unfinished).
    struct Reply {
        std::string json;
        bool cut = false;
    };

    virtual ~LanguageModel() = default;

    // The model's state right now, from the file's header only: never loads, never waits for a load.
    virtual Availability availability() = 0;
    // The model file's name, for messages.
    virtual std::string fileName() const = 0;
    // One fresh session: the instructions as the system turn, the prompt (followed by the schema) as the user
    // turn, and a reply generated under a grammar made from the JSON schema. Loads the model first when
    // needed. Throws LanguageModelError when the model cannot run, when nothing was generated in time, or
    // when stop is requested (also during the load).
    virtual Reply respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                          std::stop_token stop) = 0;
    // How likely the reply opens with yes rather than no: 0 to 1, nothing generated; throws like respond().
    virtual double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                                    const std::string& no, std::stop_token stop) = 0;
};

} // namespace tc
