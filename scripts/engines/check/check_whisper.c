/* Half of tc-engines-check that sees whisper.cpp's headers only. */
#define _POSIX_C_SOURCE 199309L
#include "tc_whisper_info.h"
#include "whisper.h"

#include <stdio.h>
#include <time.h>

static double seconds_now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int tc_check_whisper(const char* model_path)
{
    printf("whisper: %s (%s)\n", whisper_version(), tc_whisper_engines_id());
    printf("whisper system: %s\n", whisper_print_system_info());
    char gpu[256];
    printf("whisper gpu backend: %s, device: %s\n", tc_whisper_gpu_backend_built() ? "Vulkan" : "none",
           tc_whisper_gpu_device(gpu, sizeof gpu) ? gpu : "none");
    if (model_path == NULL) {
        return 0;
    }
    struct whisper_context_params params = whisper_context_default_params();
    params.use_gpu = false;
    const double started = seconds_now();
    struct whisper_context* ctx = whisper_init_from_file_with_params(model_path, params);
    if (ctx == NULL) {
        fprintf(stderr, "whisper: could not load %s\n", model_path);
        return 1;
    }
    printf("whisper model: %s loaded in %.3f s, multilingual=%d, languages=%d\n", model_path, seconds_now() - started,
           whisper_is_multilingual(ctx), whisper_lang_max_id() + 1);
    whisper_free(ctx);
    return 0;
}
