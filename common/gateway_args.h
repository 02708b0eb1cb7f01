// Argument checks, norm-kind reading and scalar outputs shared by the gateways.
#pragma once

#include "csc_view.h"
#include "host_api.h"

extern const char* const MSG_TOO_MANY_OUTPUTS;
extern const char* const MSG_NOT_SPARSE;
extern const char* const MSG_NOT_REAL_DOUBLE;
extern const char* const MSG_NOT_2D;
extern const char* const MSG_BAD_KIND;

// What the shared checks raise for one extension: an identifier per message ("name:what", so a
// caller can catch by identifier) and the input-count text; the other texts are the same for both.
struct GatewayErrors {
    const char* nargin_id;
    const char* count_message;
    const char* nargout_id;
    const char* not_sparse_id;
    const char* not_real_double_id;
    const char* not_2d_id;
    const char* kind_id;
};

// Returns only when nrhs == nrhs_required, nlhs <= max_outputs and prhs[0] is a real, double,
// two-dimensional sparse array; otherwise ends the call with the first failing check's message.
void check_gateway_args(int nlhs, int nrhs, const mxArray* prhs[], int nrhs_required,
                        int max_outputs, const GatewayErrors& errors);

// NORM_FRO or NORM_INF for the text "fro" or "inf" (a character array, or a 1-by-1 string object
// turned into one by the host's char), NORM_ONE for a number equal to 1; anything else ends the
// call with MSG_BAD_KIND. The text path borrows a scratch buffer of mxGetN + 1 bytes, and a string
// object a converted array; both are released before any error is raised.
NormKind parse_norm_kind(const mxArray* kind, const GatewayErrors& errors);

// The text rule: whole NUL-terminated strings compared byte for byte, "fro" tried first.
NormKind norm_kind_from_text(const char* text);

// The number rule: NORM_ONE for a value equal to 1.0 (NaN compares unequal), else NORM_BAD.
NormKind norm_kind_from_number(double x);

// For a non-empty numeric or logical array, full or sparse, stores its first element (row 0,
// column 0; the real part of a complex one) converted to double by value and returns true.
// Returns false for an empty array and for anything else (text, cell, struct, function handle).
bool read_first_element(const mxArray* arg, double* value);

// Ends the call with message under identifier id; it does not return. The text goes through
// "%s", never as the format itself, so no character in it is read as a conversion.
void raise_error(const char* id, const char* message);

// A new 1-by-1 real double holding x, for an output slot.
mxArray* create_scalar(double x);
