// A slow model of dropsmall's threshold search, written apart from the search itself: every
// stored entry carries its class, and every round looks at all of them in increasing position
// order (the order the real candidate list keeps, so the sums round alike). Tests compare the
// search and whole dropsmall calls with it bit for bit.
#pragma once

#include "csc_view.h"
#include "random_csc.h"
#include "threshold_search.h"

#include <cstdint>

struct Model {
    double threshold = 0.0;
    double ratio = 0.0;
    uint64_t nbelow = 0, ncand = 0;
    SearchEnd end = END_NO_PASS;
    uint64_t rounds = 0;  // of the loop, a clamping one included
    bool rising = false;  // some round's threshold was not below the one before
};

// The search as the gateway runs it: a ratio of 0 read as 1, threshold tol / ratio. Idle
// rounds past the first thousand of a search are taken at their stated outcome.
Model model_search(const TestMatrix& m, NormKind kind, double tol, double ratio);

// The floor as the search forms it, for a tol whose quotients stay normal.
double model_floor(const TestMatrix& m, NormKind kind, double tol);

// The matrix of the entries at or below t, for measuring with the norm kernels.
TestMatrix dropped_part(const TestMatrix& m, double t);

// spgauge's norm of m.
double kernel_norm(const TestMatrix& m, NormKind kind);
