#pragma once

/* C entry points of libtc_whisper.so beyond whisper.cpp's own API. */

#ifdef __cplusplus
extern "C" {
#endif

/* Id of the pinned engines build this library came from. */
const char* tc_whisper_engines_id(void);

#ifdef __cplusplus
}
#endif
