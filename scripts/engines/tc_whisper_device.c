/* Which device whisper.cpp decodes on when a context asks for a GPU. */
#include "tc_whisper_info.h"

#include "ggml-backend.h"

#include <stdio.h>

int tc_whisper_gpu_device(char* name, size_t capacity)
{
    if (name != NULL && capacity > 0) {
        name[0] = '\0';
    }
    /* The engine's own choice for gpu_device 0: the first GPU or integrated GPU in the registry. */
    for (size_t i = 0; i < ggml_backend_dev_count(); ++i) {
        ggml_backend_dev_t device = ggml_backend_dev_get(i);
        const enum ggml_backend_dev_type type = ggml_backend_dev_type(device);
        if (type != GGML_BACKEND_DEVICE_TYPE_GPU && type != GGML_BACKEND_DEVICE_TYPE_IGPU) {
            continue;
        }
        /* A device that cannot be opened leaves the engine on the processor, without a word. */
        ggml_backend_t backend = ggml_backend_dev_init(device, NULL);
        if (backend == NULL) {
            return 0;
        }
        ggml_backend_free(backend);
        if (name != NULL && capacity > 0) {
            snprintf(name, capacity, "%s", ggml_backend_dev_description(device));
        }
        return 1;
    }
    return 0;
}

int tc_whisper_gpu_backend_built(void)
{
#ifdef TC_WHISPER_VULKAN
    return 1;
#else
    return 0;
#endif
}
