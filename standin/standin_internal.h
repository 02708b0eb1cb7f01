// What the stand-in's MEX half (standin_mex.cpp, MATLAB's libmex) needs from its array half
// (standin_host.cpp, libmx). The tests build both into one library; the drivers of the shipped
// binaries build them apart, as libmex and libmx.
#pragma once

#include "mex.h"

#include <string>

namespace standin::internal {

// Records a host operation in the call's log.
void log_call(const char* name);

// End the current call with an error, as the host's error call does.
[[noreturn]] void raise(const std::string& identifier, const std::string& message);
[[noreturn]] void misuse(const std::string& what);

// The class name mxIsClass compares with: "double", "char", ..., "string" for a string object.
std::string class_name(const mxArray* a);

// The host's char of a 1-by-1 string object: a new 1-by-n character array made by the call.
mxArray* char_of(const mxArray* a);

}  // namespace standin::internal
