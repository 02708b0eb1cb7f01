## How far spgauge(A, 'fro') and norm(A, 'fro') are from the exact Frobenius norm on the
## stiffness matrix of trilinear finite elements on a uniform 3-D grid of M^3 inner nodes. Its
## stored values take a handful of distinct values, so the exact sum of squares is the sum over
## those values of count * value^2, each term and the total carried in double-double arithmetic
## (Dekker's exact products and Knuth's exact sums), far below a double's rounding.
##
##   octave-cli --norc --no-history bench/fro_accuracy.m EXTDIR [M ...]
##
## EXTDIR holds spgauge.mex; M defaults to 40.

1;

function [s, e] = exact_sum (a, b)
  s = a + b;
  z = s - a;
  e = (a - (s - z)) + (b - z);
endfunction

function [p, e] = exact_product (a, b)
  p = a * b;
  [ah, al] = halves (a);
  [bh, bl] = halves (b);
  e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
endfunction

function [hi, lo] = halves (a)
  c = 134217729 * a;    # 2^27 + 1
  hi = c - (c - a);
  lo = a - hi;
endfunction

## The sum over k of counts(k) * values(k)^2 as hi + lo.
function [hi, lo] = sum_of_squares (values, counts)
  hi = 0;
  lo = 0;
  for k = 1:numel (values)
    [p, pe] = exact_product (values(k), values(k));
    [q, qe] = exact_product (p, counts(k));
    [r, re] = exact_product (pe, counts(k));
    for term = [q, qe, r, re]
      [hi, e] = exact_sum (hi, term);
      lo += e;
    endfor
  endfor
endfunction

args = argv ();
addpath (args{1});
sizes = 40;
if (numel (args) > 1)
  sizes = str2double (args(2:end))(:).';
endif
for m = sizes
  h = 1 / (m + 1);
  e = ones (m, 1);
  K = spdiags ([-e, 2 * e, -e], -1:1, m, m) / h;
  M = spdiags ([e, 4 * e, e], -1:1, m, m) * h / 6;
  A = kron (kron (K, M), M) + kron (kron (M, K), M) + kron (kron (M, M), K);
  [values, ~, which] = unique (nonzeros (A));
  counts = accumarray (which, 1);
  [hi, lo] = sum_of_squares (values, counts);
  root = sqrt (hi);
  [p, pe] = exact_product (root, root);
  correction = ((hi - p) - pe + lo) / (2 * root);
  error_of = @(x) abs ((x - root) - correction) / root;
  n = nnz (A);
  printf ("%d^3 nodes, %d stored entries, %d distinct values: relative error of spgauge %.2g, of norm %.2g; bound (n/2+1)u %.2g\n",
          m, n, numel (values), error_of (spgauge (A, "fro")), error_of (norm (A, "fro")),
          (n / 2 + 1) * 2^-53);
endfor
