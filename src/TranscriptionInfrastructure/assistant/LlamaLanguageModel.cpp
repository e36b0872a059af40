#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/assistant/GgufModelFile.h"
#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"

#include "llama.h"
#include "tc_llama_grammar.h"

#include <QSettings>
#include <QString>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tc {

namespace {

constexpr const char* kFallbackModelFile = "gemma-3-270m-Q4_K_M.gguf";
constexpr const char* kSchemaLead = "\n\n次の JSON スキーマに従う JSON オブジェクトだけで答えてください。\n";

const char* messageFor(LanguageModelError::Kind kind)
{
    switch (kind) {
    case LanguageModelError::Kind::unavailable: return "オンデバイスAIが利用できません。";
    case LanguageModelError::Kind::cancelled: return "回答の生成を中止しました。";
    case LanguageModelError::Kind::timedOut:
        return "回答に時間がかかりすぎたため中止しました。質問を短くして、もう一度お試しください。";
    case LanguageModelError::Kind::incomplete:
        return "回答を最後まで生成できませんでした。質問を変えて、もう一度お試しください。";
    case LanguageModelError::Kind::failed: return "AIモデルで回答を生成できませんでした。もう一度お試しください。";
    }
    return "オンデバイスAIが利用できません。";
}

[[noreturn]] void fail(LanguageModelError::Kind kind)
{
    throw LanguageModelError(kind, messageFor(kind));
}

// The engine's diagnostics are not the user's business.
void dropLog(ggml_log_level, const char*, void*) {}

void initialiseBackendOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        llama_log_set(&dropLog, nullptr);
        llama_backend_init();
    });
}

struct ContextDeleter {
    void operator()(llama_context* context) const { llama_free(context); }
};
struct SamplerDeleter {
    void operator()(llama_sampler* sampler) const { llama_sampler_free(sampler); }
};

// The catalogue's default language model: its file name and size.
std::pair<std::string, std::optional<std::uintmax_t>> catalogueDefault()
{
    const auto model = ModelCatalogue(AppPaths::current().catalogueFile()).defaultModel(ModelCatalogue::Section::language);
    if (!model) return {kFallbackModelFile, std::nullopt};
    return {model->fileName, model->bytes != 0 ? std::optional<std::uintmax_t>(model->bytes) : std::nullopt};
}

bool isBeingInstalled(const std::filesystem::path& file)
{
    std::error_code error;
    const auto prefix = "." + file.filename().string() + ".";
    for (const auto& item : std::filesystem::directory_iterator(file.parent_path(), error)) {
        const auto name = item.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".partial")) return true;
    }
    return false;
}

} // namespace

std::optional<LlamaLanguageModel::FileStamp> LlamaLanguageModel::fileStamp(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) return std::nullopt;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    return FileStamp{size, modified};
}

namespace {

std::uintmax_t physicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<std::uintmax_t>(pages) * static_cast<std::uintmax_t>(pageSize);
}

std::string grammarFor(const std::string& schema)
{
    std::string grammar(4096, '\0');
    long length = tc_llama_json_schema_to_grammar(schema.c_str(), grammar.data(), grammar.size());
    if (length < 0) fail(LanguageModelError::Kind::failed);
    if (static_cast<std::size_t>(length) >= grammar.size()) {
        grammar.assign(static_cast<std::size_t>(length) + 1, '\0');
        length = tc_llama_json_schema_to_grammar(schema.c_str(), grammar.data(), grammar.size());
        if (length < 0) fail(LanguageModelError::Kind::failed);
    }
    grammar.resize(static_cast<std::size_t>(length));
    // The converter lets the model pad JSON with line breaks and indentation; each of those is a decoding step
    // spent on nothing the user sees.
    const auto space = grammar.find("\nspace ::=");
    if (space != std::string::npos) {
        const auto lineEnd = grammar.find('\n', space + 1);
        grammar.replace(space, (lineEnd == std::string::npos ? grammar.size() : lineEnd) - space, "\nspace ::= \" \"?");
    }
    return grammar;
}

// The model's own chat template; a GGUF without one gets its family's built-in format.
std::string chatText(const llama_model* model, const std::string& system, const std::string& user)
{
    const char* tmpl = llama_model_chat_template(model, nullptr);
    std::string fallback = "chatml";
    if (!tmpl) {
        char architecture[64] = {};
        if (llama_model_meta_val_str(model, "general.architecture", architecture, sizeof architecture) > 0 &&
            std::string_view(architecture).starts_with("gemma"))
            fallback = "gemma";
        tmpl = fallback.c_str();
    }
    const llama_chat_message messages[] = {{"system", system.c_str()}, {"user", user.c_str()}};
    std::string text(2 * (system.size() + user.size()) + 256, '\0');
    int length = llama_chat_apply_template(tmpl, messages, 2, true, text.data(), static_cast<int>(text.size()));
    if (length > static_cast<int>(text.size())) {
        text.assign(static_cast<std::size_t>(length), '\0');
        length = llama_chat_apply_template(tmpl, messages, 2, true, text.data(), static_cast<int>(text.size()));
    }
    if (length < 0) return system + "\n\n" + user + "\n";
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::vector<llama_token> tokenize(const llama_vocab* vocab, const std::string& text)
{
    std::vector<llama_token> tokens(text.size() + 16);
    int count = llama_tokenize(vocab, text.c_str(), static_cast<int>(text.size()), tokens.data(),
                               static_cast<int>(tokens.size()), true, true);
    if (count < 0) {
        tokens.resize(static_cast<std::size_t>(-count));
        count = llama_tokenize(vocab, text.c_str(), static_cast<int>(text.size()), tokens.data(),
                               static_cast<int>(tokens.size()), true, true);
    }
    if (count < 0) fail(LanguageModelError::Kind::failed);
    tokens.resize(static_cast<std::size_t>(count));
    return tokens;
}

// The first token of a word as the model would start writing it, with no start-of-text mark.
llama_token firstToken(const llama_vocab* vocab, const std::string& word)
{
    std::vector<llama_token> tokens(word.size() + 8);
    const int count = llama_tokenize(vocab, word.c_str(), static_cast<int>(word.size()), tokens.data(),
                                     static_cast<int>(tokens.size()), false, false);
    if (count <= 0) fail(LanguageModelError::Kind::failed);
    return tokens.front();
}

// What the engine's abort callback looks at while it computes.
struct Interruption {
    std::stop_token stop;
    std::chrono::steady_clock::time_point deadline;

    bool due() const { return stop.stop_requested() || std::chrono::steady_clock::now() >= deadline; }
    [[noreturn]] void raise() const
    {
        fail(stop.stop_requested() ? LanguageModelError::Kind::cancelled : LanguageModelError::Kind::timedOut);
    }
};

// Greedy choice among the tokens the grammar allows, with a mild repetition penalty (small models loop without
// it). Checking the grammar against the whole vocabulary costs far more than a decoding step with large
// vocabularies, so the best few hundred candidates are tried first and the whole list only when none fits.
class GreedyUnderGrammar {
public:
    GreedyUnderGrammar(const llama_vocab* vocab, llama_sampler* grammar)
        : m_grammar(grammar), m_vocabularySize(llama_vocab_n_tokens(vocab))
    {
        m_candidates.resize(static_cast<std::size_t>(m_vocabularySize));
    }

    std::optional<llama_token> sample(const float* logits)
    {
        if (!logits) return std::nullopt;
        for (llama_token token = 0; token < m_vocabularySize; ++token)
            m_candidates[static_cast<std::size_t>(token)] = llama_token_data{token, logits[token], 0.0f};
        for (const llama_token recent : m_recent) {
            auto& logit = m_candidates[static_cast<std::size_t>(recent)].logit;
            logit = logit > 0 ? logit / kRepeatPenalty : logit * kRepeatPenalty;
        }
        const auto byLogit = [](const llama_token_data& a, const llama_token_data& b) { return a.logit > b.logit; };
        const auto shortList = std::min<std::size_t>(kShortList, m_candidates.size());
        std::partial_sort(m_candidates.begin(), m_candidates.begin() + static_cast<std::ptrdiff_t>(shortList),
                          m_candidates.end(), byLogit);
        auto chosen = bestAllowed(shortList);
        if (!chosen) chosen = bestAllowed(m_candidates.size());
        if (!chosen) return std::nullopt;
        llama_sampler_accept(m_grammar, *chosen);
        m_recent.push_back(*chosen);
        if (m_recent.size() > kRecentWindow) m_recent.pop_front();
        return chosen;
    }

private:
    static constexpr std::size_t kShortList = 256;
    static constexpr std::size_t kRecentWindow = 64;
    static constexpr float kRepeatPenalty = 1.15f;

    std::optional<llama_token> bestAllowed(std::size_t count)
    {
        llama_token_data_array list{m_candidates.data(), count, -1, false};
        llama_sampler_apply(m_grammar, &list);
        std::optional<llama_token> best;
        float bestLogit = -std::numeric_limits<float>::infinity();
        for (std::size_t i = 0; i < list.size; ++i) {
            if (list.data[i].logit > bestLogit) {
                bestLogit = list.data[i].logit;
                best = list.data[i].id;
            }
        }
        return best;
    }

    llama_sampler* m_grammar;
    llama_token m_vocabularySize;
    std::vector<llama_token_data> m_candidates;
    std::deque<llama_token> m_recent;
};

using ContextPointer = std::unique_ptr<llama_context, ContextDeleter>;

// A fresh context with room for the prompt and this many tokens after it, the prompt already decoded. Throws
// LanguageModelError: incomplete when the model's window is too small, cancelled or timedOut when interrupted.
ContextPointer promptedContext(const llama_model* model, std::vector<llama_token>& prompt, int roomAfter,
                               int threadOption, const Interruption& interruption)
{
    const auto contextLength = static_cast<int>(prompt.size()) + roomAfter;
    if (contextLength > llama_model_n_ctx_train(model)) fail(LanguageModelError::Kind::incomplete);
    auto parameters = llama_context_default_params();
    parameters.n_ctx = static_cast<std::uint32_t>(contextLength);
    parameters.n_batch = 512;
    parameters.n_ubatch = 512;
    const int threads =
        threadOption > 0 ? threadOption : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
    parameters.n_threads = threads;
    parameters.n_threads_batch = threads;
    parameters.no_perf = true;
    parameters.abort_callback = [](void* data) { return static_cast<const Interruption*>(data)->due(); };
    parameters.abort_callback_data = const_cast<Interruption*>(&interruption);
    ContextPointer context(llama_init_from_model(const_cast<llama_model*>(model), parameters));
    if (!context) fail(LanguageModelError::Kind::failed);
    for (std::size_t offset = 0; offset < prompt.size(); offset += parameters.n_batch) {
        const auto count = std::min<std::size_t>(parameters.n_batch, prompt.size() - offset);
        const int result =
            llama_decode(context.get(), llama_batch_get_one(prompt.data() + offset, static_cast<int>(count)));
        if (interruption.due()) interruption.raise();
        if (result != 0) fail(LanguageModelError::Kind::failed);
    }
    return context;
}

} // namespace

std::filesystem::path LlamaLanguageModel::modelsFolder()
{
    return AppPaths::current().modelsDirectory();
}

LlamaLanguageModel::Options LlamaLanguageModel::defaultOptions()
{
    if (const char* chosen = std::getenv("TC_LANGUAGE_MODEL"); chosen && *chosen) return optionsFor(chosen);
    const QSettings settings(QString(settingKeys::storeName), QString(settingKeys::storeName));
    if (const auto chosen = settings.value(QString(settingKeys::languageModelPath)).toString(); !chosen.isEmpty())
        return optionsFor(chosen.toStdString());
    return installedOptions();
}

LlamaLanguageModel::Options LlamaLanguageModel::installedOptions()
{
    Options options;
    const auto [file, bytes] = catalogueDefault();
    options.modelFile = modelsFolder() / file;
    options.expectedBytes = bytes;
    return options;
}

LlamaLanguageModel::Options LlamaLanguageModel::optionsFor(const std::filesystem::path& modelFile)
{
    Options options;
    options.modelFile = modelFile;
    return options;
}

LlamaLanguageModel::LlamaLanguageModel(Options options) : m_options(std::move(options)) {}

LlamaLanguageModel::~LlamaLanguageModel() = default;

std::string LlamaLanguageModel::fileName() const
{
    return m_options.modelFile.filename().string();
}

bool LlamaLanguageModel::isLoaded()
{
    std::lock_guard lock(m_mutex);
    return m_model != nullptr;
}

LanguageModel::Availability LlamaLanguageModel::availability()
{
    std::lock_guard lock(m_mutex);
    return availabilityLocked();
}

LanguageModel::Availability LlamaLanguageModel::availabilityLocked()
{
    if (m_loading) return Availability::loading;
    const auto stamp = fileStamp(m_options.modelFile);
    if (!stamp || (m_options.expectedBytes && stamp->size != *m_options.expectedBytes))
        return isBeingInstalled(m_options.modelFile) ? Availability::preparing : Availability::noModel;
    if (stamp == m_failedFile) return Availability::damaged;
    if (stamp != m_inspectedFile) {
        // Read once per version of the file: the header of a large vocabulary takes a few tens of milliseconds.
        const auto inspection = GgufModelFile::inspect(m_options.modelFile);
        m_inspectedFile = stamp;
        const auto memory = m_options.memoryBytes != 0 ? m_options.memoryBytes : physicalMemoryBytes();
        switch (inspection.format) {
        case GgufModelFile::Format::unreadable: m_fileState = Availability::noModel; break;
        case GgufModelFile::Format::notGguf: m_fileState = Availability::notModelFile; break;
        case GgufModelFile::Format::truncated: m_fileState = Availability::damaged; break;
        case GgufModelFile::Format::gguf:
            if (memory != 0 && stamp->size + stamp->size / 4 > memory)
                m_fileState = Availability::unsupported;
            else
                m_fileState = inspection.hasChatTemplate ? Availability::available : Availability::baseModel;
            break;
        }
    }
    return m_fileState;
}

std::shared_ptr<llama_model> LlamaLanguageModel::acquireModel(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_loading) {
            const auto state = availabilityLocked();
            if (state != Availability::available && state != Availability::baseModel)
                fail(LanguageModelError::Kind::unavailable);
            // A base model can still be asked directly; only the file that loaded is ever reused.
            if (m_model && m_modelFile == m_inspectedFile) return m_model;
            break;
        }
        if (!m_loadEnded.wait(lock, stop, [&] { return !m_loading; })) fail(LanguageModelError::Kind::cancelled);
    }
    m_loading = true;
    const auto stamp = m_inspectedFile;
    lock.unlock();

    initialiseBackendOnce();
    auto parameters = llama_model_default_params();
    parameters.n_gpu_layers = 0;
    // Quitting while the model loads must not wait for the whole file.
    parameters.progress_callback = [](float, void* data) {
        return !static_cast<std::stop_token*>(data)->stop_requested();
    };
    parameters.progress_callback_user_data = &stop;
    std::shared_ptr<llama_model> model(llama_model_load_from_file(m_options.modelFile.c_str(), parameters),
                                       [](llama_model* m) { llama_model_free(m); });

    lock.lock();
    m_loading = false;
    if (model) {
        m_model = model;
        m_modelFile = stamp;
    } else if (!stop.stop_requested()) {
        m_failedFile = stamp;
    }
    lock.unlock();
    m_loadEnded.notify_all();
    if (!model)
        fail(stop.stop_requested() ? LanguageModelError::Kind::cancelled : LanguageModelError::Kind::unavailable);
    return model;
}

LanguageModel::Reply LlamaLanguageModel::respond(const std::string& instructions, const std::string& prompt,
                                                 const std::string& jsonSchema, std::stop_token stop)
{
    const auto holder = acquireModel(stop);
    const llama_model* model = holder.get();
    const Interruption interruption{stop, std::chrono::steady_clock::now() + m_options.timeLimit};

    const auto* vocab = llama_model_get_vocab(model);
    const auto grammar = grammarFor(jsonSchema);
    auto tokens = tokenize(vocab, chatText(model, instructions, prompt + kSchemaLead + jsonSchema));
    const auto context = promptedContext(model, tokens, m_options.maxReplyTokens + 8, m_options.threads, interruption);

    std::unique_ptr<llama_sampler, SamplerDeleter> grammarSampler(
        llama_sampler_init_grammar(vocab, grammar.c_str(), "root"));
    if (!grammarSampler) fail(LanguageModelError::Kind::failed);
    GreedyUnderGrammar sampler(vocab, grammarSampler.get());

    // False when the deadline passed (the caller giving up always throws).
    auto decode = [&](llama_token* data, int count) {
        const int result = llama_decode(context.get(), llama_batch_get_one(data, count));
        if (stop.stop_requested()) interruption.raise();
        if (interruption.due()) return false;
        if (result != 0) fail(LanguageModelError::Kind::failed);
        return true;
    };

    Reply reply;
    for (int generated = 0;; ++generated) {
        if (stop.stop_requested()) interruption.raise();
        if (generated >= m_options.maxReplyTokens || interruption.due()) {
            // What was written so far is still an answer; the caller marks it as cut.
            reply.cut = true;
            break;
        }
        const auto next = sampler.sample(llama_get_logits_ith(context.get(), -1));
        if (!next || llama_vocab_is_eog(vocab, *next)) break;
        char piece[256];
        const int length = llama_token_to_piece(vocab, *next, piece, sizeof piece, 0, false);
        if (length > 0) reply.json.append(piece, static_cast<std::size_t>(length));
        if (generated == 0 && m_options.onReplyStarted) m_options.onReplyStarted();
        // The grammar allows nothing after the closing brace but the end; no need to wait for it.
        if (reply.json.ends_with('}') && nlohmann::json::accept(reply.json)) break;
        llama_token token = *next;
        if (!decode(&token, 1)) {
            reply.cut = true;
            break;
        }
    }
    if (!reply.cut && !nlohmann::json::accept(reply.json)) reply.cut = true;
    return reply;
}

double LlamaLanguageModel::probabilityOfYes(const std::string& instructions, const std::string& prompt,
                                            const std::string& yes, const std::string& no, std::stop_token stop)
{
    const auto holder = acquireModel(stop);
    const llama_model* model = holder.get();
    const Interruption interruption{stop, std::chrono::steady_clock::now() + m_options.timeLimit};
    const auto* vocab = llama_model_get_vocab(model);
    const llama_token yesToken = firstToken(vocab, yes);
    const llama_token noToken = firstToken(vocab, no);
    if (yesToken == noToken) fail(LanguageModelError::Kind::failed);
    auto tokens = tokenize(vocab, chatText(model, instructions, prompt));
    const auto context = promptedContext(model, tokens, 8, m_options.threads, interruption);
    const float* logits = llama_get_logits_ith(context.get(), -1);
    if (!logits) fail(LanguageModelError::Kind::failed);
    // The other tokens cancel out: only the two openings are weighed against each other.
    const double difference = static_cast<double>(logits[noToken]) - static_cast<double>(logits[yesToken]);
    return 1.0 / (1.0 + std::exp(difference));
}

} // namespace tc
