// The stand-in host's MEX half (MATLAB's libmex): the error call and calls back into the host.
// A file apart from the array half (standin_libmx.cpp): a shipped binary imports the mex calls
// from libmex and the mx calls from libmx, so its driver builds the two as separate libraries,
// this one working on the state that libmx keeps.
#include "standin_internal.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// One field of an identifier: a letter, then letters, digits, underscores or hyphens.
bool is_identifier_field(const std::string& field)
{
    if (field.empty() || !std::isalpha(static_cast<unsigned char>(field[0]))) return false;
    for (char c : field)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    return true;
}

// MATLAB's message identifiers: "component:mnemonic", with one or more components.
bool is_message_identifier(const char* id)
{
    const std::string s = id == nullptr ? "" : id;
    size_t start = 0, fields = 0;
    for (;;) {
        const size_t colon = s.find(':', start);
        if (!is_identifier_field(s.substr(start, colon - start))) return false;
        ++fields;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return fields >= 2;
}

std::string formatted(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace

extern "C" {

void mexErrMsgIdAndTxt(const char* id, const char* format, ...)
{
    standin::internal::log_call("mexErrMsgIdAndTxt");
    if (!is_message_identifier(id))
        standin::internal::misuse(std::string("malformed message identifier '") +
                                  (id == nullptr ? "(null)" : id) + "'");
    va_list args;
    va_start(args, format);
    const std::string message = formatted(format, args);
    va_end(args);
    standin::internal::raise(id, message);
}

int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name)
{
    standin::internal::log_call("mexCallMATLAB");
    if (name == nullptr || std::strcmp(name, "char") != 0 || nlhs != 1 || nrhs != 1)
        standin::internal::misuse(std::string("mexCallMATLAB of '") + (name ? name : "(null)") +
                                  "' with these counts is not provided");
    plhs[0] = standin::internal::char_of(prhs[0]);
    return 0;
}

}  // extern "C"
