/* Half of tc-engines-check that sees llama.cpp's headers only. */
#define _POSIX_C_SOURCE 199309L
#include "llama.h"
#include "tc_llama_grammar.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

static double seconds_now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static const char* const answer_schema = "{\"type\":\"object\",\"properties\":{\"answer\":{\"type\":\"string\"},"
                                         "\"lines\":{\"type\":\"array\",\"items\":{\"type\":\"integer\"}}},"
                                         "\"required\":[\"answer\",\"lines\"]}";

int tc_check_llama(const char* model_path)
{
    llama_backend_init();
    printf("llama: %s\n", tc_llama_engines_id());
    printf("llama system: %s\n", llama_print_system_info());

    static char grammar[16384];
    const long length = tc_llama_json_schema_to_grammar(answer_schema, grammar, sizeof grammar);
    if (length <= 0 || (size_t)length >= sizeof grammar || strstr(grammar, "root") == NULL) {
        fprintf(stderr, "llama: schema conversion failed: %s\n", grammar);
        llama_backend_free();
        return 1;
    }
    char reason[256];
    if (tc_llama_json_schema_to_grammar("{not json", reason, sizeof reason) != -1) {
        fprintf(stderr, "llama: invalid schema was accepted\n");
        llama_backend_free();
        return 1;
    }
    printf("llama grammar: %ld bytes from the answer schema\n", length);

    int status = 0;
    if (model_path != NULL) {
        struct llama_model_params mparams = llama_model_default_params();
        mparams.n_gpu_layers = 0;
        const double started = seconds_now();
        struct llama_model* model = llama_model_load_from_file(model_path, mparams);
        if (model == NULL) {
            fprintf(stderr, "llama: could not load %s\n", model_path);
            llama_backend_free();
            return 1;
        }
        struct llama_context_params cparams = llama_context_default_params();
        cparams.n_ctx = 1024;
        struct llama_context* ctx = llama_init_from_model(model, cparams);
        char desc[128];
        llama_model_desc(model, desc, sizeof desc);
        printf("llama model: %s (%s) loaded in %.3f s\n", model_path, desc, seconds_now() - started);
        struct llama_sampler* sampler = llama_sampler_init_grammar(llama_model_get_vocab(model), grammar, "root");
        if (ctx == NULL || sampler == NULL) {
            fprintf(stderr, "llama: context or grammar sampler could not be created\n");
            status = 1;
        }
        if (sampler != NULL) {
            llama_sampler_free(sampler);
        }
        if (ctx != NULL) {
            llama_free(ctx);
        }
        llama_model_free(model);
    }
    llama_backend_free();
    return status;
}
