/* tc-engines-check: both engines initialised in one process.
   Usage: tc-engines-check [--whisper-model FILE] [--llama-model FILE] */
#include <stdio.h>
#include <string.h>

int tc_check_whisper(const char* model_path);
int tc_check_llama(const char* model_path);

int main(int argc, char** argv)
{
    const char* whisper_model = NULL;
    const char* llama_model = NULL;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--whisper-model") == 0 && i + 1 < argc) {
            whisper_model = argv[++i];
        } else if (strcmp(argv[i], "--llama-model") == 0 && i + 1 < argc) {
            llama_model = argv[++i];
        } else {
            fprintf(stderr, "usage: %s [--whisper-model FILE] [--llama-model FILE]\n", argv[0]);
            return 2;
        }
    }
    const int whisper_status = tc_check_whisper(whisper_model);
    const int llama_status = tc_check_llama(llama_model);
    if (whisper_status != 0 || llama_status != 0) {
        return 1;
    }
    printf("engines ok\n");
    return 0;
}
