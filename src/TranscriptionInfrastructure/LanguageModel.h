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

// A local language model that answers in JSON under a schema. Implementations are thread-safe; the blocking
// call belongs off the UI thread.
class LanguageModel {
public:
    enum class Availability {
        available,
        // A model file is being installed or loaded.
        preparing,
        // No model file is installed.
        noModel,
        // This computer cannot run the installed model (too little memory).
        unsupported,
        // Any other failure (unreadable or broken model file).
        failed,
    };

    virtual ~LanguageModel() = default;

    // The model's state right now; may start loading it in the background. Never blocks for long.
    virtual Availability availability() = 0;
    // One fresh session: the instructions as the system turn, the prompt (followed by the schema) as the user
    // turn, and a reply generated under a grammar made from the JSON schema. Returns the reply's JSON text.
    // Waits for a model still loading. Throws LanguageModelError on failure, on timeout, or when stop is
    // requested.
    virtual std::string respond(const std::string& instructions, const std::string& prompt,
                                const std::string& jsonSchema, std::stop_token stop) = 0;
};

} // namespace tc
