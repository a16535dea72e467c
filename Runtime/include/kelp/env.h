// Environment variables.
#pragma once

#include "kelp/types.h"

// The process environment.
#define RTENV_DEFAULT ((RTENV)~(uintptr_t)0)
typedef struct RTENVINTERNAL *RTENV;

// Copies the value into buffer (UTF-8) and its length into *length. A null buffer with
// size 0 and a length pointer only measures.
int RTEnvQueryValue(RTENV env, const char *name, char *buffer, size_t size, size_t *length);
