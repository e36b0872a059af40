/* Lets a program check at run time which pinned engine build it has loaded. */
#define TC_CONCAT_(a, b, c) a##b##c
#define TC_CONCAT(a, b, c) TC_CONCAT_(a, b, c)

const char* TC_CONCAT(tc_, TC_ENGINE_NAME, _engines_id)(void);

const char* TC_CONCAT(tc_, TC_ENGINE_NAME, _engines_id)(void)
{
    return TC_ENGINES_ID;
}
