#pragma once

/* C entry points of libtc_whisper.so beyond whisper.cpp's own API. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Id of the pinned engines build this library came from. */
const char* tc_whisper_engines_id(void);

/* 1 when a context made with use_gpu decodes on a GPU: the device the engine picks opens. Its description
   ("AMD Radeon RX 6600", "llvmpipe (LLVM 15.0.6, 256 bits)") goes into name. 0 otherwise (no GPU backend, no
   device, or it would not open), with name empty. Any thread. */
int tc_whisper_gpu_device(char* name, size_t capacity);

/* 1 when the library was built with a GPU backend (Vulkan). */
int tc_whisper_gpu_backend_built(void);

#ifdef __cplusplus
}
#endif
