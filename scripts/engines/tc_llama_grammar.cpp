// Exposes llama.cpp's JSON-schema-to-GBNF converter through a C entry point.
#include "tc_llama_grammar.h"

#include "json-schema-to-grammar.h"
#include "json.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

namespace {

void copyOut(const std::string& text, char* out, size_t cap)
{
    if (out == nullptr || cap == 0) {
        return;
    }
    const size_t n = std::min(text.size(), cap - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

} // namespace

extern "C" long tc_llama_json_schema_to_grammar(const char* schema_json, char* out, size_t cap)
{
    if (schema_json == nullptr) {
        copyOut("schema is null", out, cap);
        return -1;
    }
    try {
        const auto schema = common_json::parse(schema_json);
        const std::string grammar = json_schema_to_grammar(schema);
        copyOut(grammar, out, cap);
        return static_cast<long>(grammar.size());
    } catch (const std::exception& e) {
        copyOut(e.what(), out, cap);
        return -1;
    } catch (...) {
        copyOut("unknown error", out, cap);
        return -1;
    }
}
