#pragma once

/* C entry points of libtc_llama.so beyond llama.cpp's own API. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Id of the pinned engines build this library came from. */
const char* tc_llama_engines_id(void);

/* Converts a JSON schema (UTF-8, NUL-terminated) into a GBNF grammar for
   llama_sampler_init_grammar with root rule "root". Writes at most cap bytes
   including the terminating NUL into out (out may be NULL when cap is 0).
   Returns the grammar's full length without the NUL, so a result >= cap means
   out was too small; returns -1 when the schema is not valid JSON or cannot be
   converted, and then writes the reason into out instead. Thread-safe. */
long tc_llama_json_schema_to_grammar(const char* schema_json, char* out, size_t cap);

#ifdef __cplusplus
}
#endif
