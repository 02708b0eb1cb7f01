// The gateway cases both shipped binaries of an extension must pass, whichever host library
// runs them: the stand-in's tests, and the drivers of the .mexa64 and .mexw64 files.
#pragma once

#include "standin.h"

#if defined(_WIN32)
#define GATEWAY_CASES_API extern "C" __declspec(dllexport)
#else
#define GATEWAY_CASES_API extern "C" __attribute__((visibility("default")))
#endif

// Runs every case of the extension name ("spgauge", "dropsmall" or "dropmost") through fn, printing one line
// per case and a summary "N of M cases passed"; returns the number of cases that failed (or -1
// for an unknown name).
GATEWAY_CASES_API int run_gateway_cases(const char* name, standin::MexFunction fn);
