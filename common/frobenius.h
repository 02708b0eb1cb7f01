// The Frobenius norm of a set of stored values, kept exact at every scale: the plain sum of
// squares in position order where it can be trusted, otherwise the same sum over values scaled
// by a power of two (exact), so that squares neither overflow nor lose bits to underflow.
// spgauge's kernel, dropsmall's recount and its scaled search share it.
#pragma once

#include <cstdint>

// Below this total some squares may have lost bits to gradual underflow.
constexpr double SMALLEST_TRUSTED_TOTAL = 0x1p-969;

// One running total, in position order, of (scale * |pr[k]|)^2 over the k < nnz with
// |pr[k]| <= threshold (a NaN never is). scale is a power of two.
double sum_of_scaled_squares(const double* pr, uint64_t nnz, double threshold, double scale);

// The largest |pr[k]| <= threshold over k < nnz, 0 when there is none.
double largest_at_or_below(const double* pr, uint64_t nnz, double threshold);

// The power of two that centres scaled magnitudes from least to largest (finite, nonzero) on 1,
// lowered where needed to keep the scaled largest below 2^480, so that no sum of 2^31 squares
// overflows. When largest / least is below 2^1000 every scaled square is a normal double.
double balanced_scale(double largest, double least);

// The 2-norm of the values with |pr[k]| <= threshold (NaNs never count): the square root of
// their plain sum of squares where that is finite and at least SMALLEST_TRUSTED_TOTAL (or 0 with
// every value 0), else of the sum with every value scaled by unit_scale_of(the largest), scaled
// back. An infinite value in the set gives +Inf; +Inf as threshold takes every value.
double frobenius_norm_at_or_below(const double* pr, uint64_t nnz, double threshold);
