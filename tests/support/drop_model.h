// The slow model of dropmost: every distinct magnitude a candidate, each judged by building the
// dropped part and measuring it with spgauge's own kernels.
#pragma once

#include "csc_view.h"
#include "random_csc.h"

#include <cstdint>
#include <vector>

struct ModelDrop {
    double threshold;
    double dropped;
    uint64_t ndropped;
};

// The part of a made of its stored entries of magnitude at or below t (NaN never), in order.
TestMatrix part_at_or_below(const TestMatrix& a, double t);

// spgauge's measure of m: the kernels' 1- and Frobenius norms; row sums in storage order for
// the infinity norm (kept per stored row, whatever the row count).
double measure(const TestMatrix& m, NormKind kind);

// 0 and every distinct non-NaN magnitude of a, ascending.
std::vector<double> candidate_thresholds(const TestMatrix& a);

// Bisection over the candidates with a measure of the part at each: the answer wherever the
// measure never falls as the threshold rises.
ModelDrop model_by_bisection(const TestMatrix& a, double tol, NormKind kind);

// Every candidate in turn until the first whose part exceeds tol: the answer by definition,
// also where rounding makes the Frobenius measure fall by an ulp between two candidates.
ModelDrop model_by_scan(const TestMatrix& a, double tol, NormKind kind);
