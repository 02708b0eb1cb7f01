%DROPMOST  Drop as many small entries of a sparse matrix as a norm bound allows.
%
%   [B, THRESHOLD, DROPPED] = DROPMOST(A, TOL, KIND)
%   B = DROPMOST(A, TOL, KIND)
%
%   B is a copy of the real sparse double matrix A without every stored
%   entry whose magnitude is at or below THRESHOLD, the largest value among
%   0 and the magnitudes of A's stored entries for which the dropped part D
%   (the matrix of the dropped entries alone) stays within TOL:
%
%       SPGAUGE(D, KIND) <= TOL       (KIND is 1, 'inf' or 'fro')
%
%   Dropping the entries of the next larger magnitude as well would exceed
%   TOL, so no threshold drops more. (For 'fro', where the sum of a larger
%   part switches between plain and scaled squares, rounding could let it
%   measure an ulp below a smaller part's; THRESHOLD then stops below the
%   first part that exceeds TOL.) Entries of equal magnitude are dropped
%   together; NaN entries are never dropped; an Inf entry only when TOL is
%   Inf. DROPPED is SPGAUGE(D, KIND), the part of TOL used, bit for bit
%   (NORM(A - B, KIND) as well unless B keeps a NaN or Inf entry, which
%   makes A - B hold NaN). THRESHOLD is 0 when not even the smallest nonzero
%   magnitude can go; stored zeros are always dropped.
%
%   B keeps A's size, and its entries keep their values, signs and order;
%   its capacity (nzmax) equals its stored entries (at least 1). The answer
%   depends on A, TOL and KIND alone: the same call gives the same bits.
%   A and TOL times a power of two give THRESHOLD and DROPPED times that
%   power and B times it, while every value and sum stays within 2^-400 to
%   2^400.
%
%   DROPMOST or DROPSMALL: DROPMOST gives the sparsest B within TOL. DROPSMALL
%   runs a one-way search from the threshold TOL / RATIO downwards, with a
%   warm start for a sequence of similar matrices; it can drop much less
%   than TOL allows, and its results are kept exactly as they are for
%   callers who rely on them.
%
%   TOL: one real number of any numeric class (a 1-by-1 double, single or
%   integer, full or sparse), not NaN and not negative; Inf drops every
%   entry but the NaNs. Vectors, complex and logical values, text and the
%   like are refused. KIND is read exactly as by SPGAUGE.
%
%   Cost: time in proportion to nnz(A) log nnz(A) at most, memory in
%   proportion to nnz(A) plus the columns, whatever the values or the
%   number of rows.
%
%   Errors, in the order they are checked (catch them by identifier):
%     dropmost:nargin             Three inputs required.
%     dropmost:nargout            Too many output arguments
%     dropmost:notSparse          Input must be a sparse matrix.
%     dropmost:notRealDouble      Input must be noncomplex double.
%                                 (A is complex or logical)
%     dropmost:notTwoDimensional  Input argument must be two dimensional
%     dropmost:kind               Only for 1-norm, inf-norm and fro-norm.
%     dropmost:tolerance          Tolerance must be a nonnegative number.
%
%   Example:
%     A = gallery('poisson', 50) + 1e-4 * sprandn(2500, 2500, 1e-3);
%     [B, t, dropped] = dropmost(A, 1e-3 * spgauge(A, 'fro'), 'fro');
%     fprintf('kept %d of %d, threshold %g, dropped norm %g\n', ...
%             nnz(B), nnz(A), t, dropped);
%
%   See also DROPSMALL, SPGAUGE, NORM.

%!demo
%! ## The 2-D Laplacian plus small noise, cleaned within a thousandth of each
%! ## norm: dropmost against a cold dropsmall call with the same tolerance.
%! randn ("state", 1); rand ("state", 1);
%! A = gallery ("poisson", 60) + 1e-4 * sprandn (3600, 3600, 2e-3);
%! for kind = {1, "inf", "fro"}
%!   tol = 1e-3 * spgauge (A, kind{1});
%!   [B, t, dropped] = dropmost (A, tol, kind{1});
%!   C = dropsmall (A, tol, kind{1}, 0);
%!   printf ("%-3s: dropmost keeps %5d of %5d (threshold %.3g, dropped norm %.3g of tol %.3g); dropsmall keeps %5d\n",
%!           num2str (kind{1}), nnz (B), nnz (A), t, dropped, tol, nnz (C));
%! endfor

%!shared kinds
%! kinds = {1, "inf", "fro"};

## The threshold, checked against every candidate: the part at or below it fits, and the
## part at or below the next larger magnitude does not.
%!function check_sparsest (A, tol, kind, B, t, dropped)
%!  assert (issparse (B) && isreal (B) && isa (B, "double"));
%!  assert (size (B), size (A));
%!  assert (nzmax (B), max (nnz (B), 1));
%!  [i, j, v] = find (A);
%!  gone = abs (v) <= t;
%!  assert (nnz (B), sum (! gone & v != 0));
%!  D = sparse (i(gone), j(gone), v(gone), rows (A), columns (A));
%!  assert (dropped, spgauge (D, kind));
%!  assert (dropped <= tol);
%!  m = abs (v(! isnan (v)));
%!  above = min (m(m > t));
%!  if (! isempty (above))
%!    up = abs (v) <= above;
%!    assert (spgauge (sparse (i(up), j(up), v(up), rows (A), columns (A)), kind) > tol);
%!  endif
%!  assert (t == 0 || any (m == t));
%!endfunction

%!test
%! ## One column of 0.1, 0.3, 0.2 and 5, summed in storage order as spgauge sums it:
%! ## 0.1 + 0.3 + 0.2 is 0.6000000000000001, one ulp above 0.6.
%! A = sparse ([0.1; 0.3; 0.2; 5]);
%! [B, t, d] = dropmost (A, 0.1 + 0.3 + 0.2, 1);
%! assert (full (B), [0; 0; 0; 5]);
%! assert ([t, d], [0.3, 0.1 + 0.3 + 0.2]);
%! [B, t, d] = dropmost (A, 0.6, 1);
%! assert (full (B), [0; 0.3; 0; 5]);
%! assert ([t, d], [0.2, 0.1 + 0.2]);

%!test
%! ## Ties go together: three entries of 1 fit 'fro' at sqrt(3), not below.
%! A = sparse ([1; 1; 1; 2]);
%! [B, t] = dropmost (A, sqrt (3), "fro");
%! assert ([nnz(B), t], [1, 1]);
%! [B, t] = dropmost (A, sqrt (3) - eps, "fro");
%! assert ([nnz(B), t], [4, 0]);

%!test
%! ## NaN is never dropped, Inf only with tol Inf; stored zeros always go.
%! A = sparse ([1 2 3 4 5], 1, [NaN, 0, -Inf, 1e-3, 7], 6, 1);
%! [B, t, d] = dropmost (A, Inf, "fro");
%! assert (nnz (B), 1);
%! assert (isnan (full (B(1))));
%! assert ([t, d], [Inf, Inf]);
%! [B, t, d] = dropmost (A, 0, 1);
%! assert (nnz (B), 4);
%! assert ([t, d], [0, 0]);
%! [B, t, d] = dropmost (A, 1, "inf");
%! assert (nnz (B), 3);
%! assert ([t, d], [1e-3, 1e-3]);

%!test
%! ## Random matrices of every shape and tol: the sparsest threshold within tol.
%! rand ("seed", 3); randn ("seed", 3);
%! for trial = 1:60
%!   A = sprandn (randi (30), randi (30), rand ());
%!   if (mod (trial, 3) == 0)
%!     A = round (4 * A) / 4;                   # ties
%!   endif
%!   kind = kinds{mod (trial, 3) + 1};
%!   tol = rand () * spgauge (A, kind);
%!   [B, t, d] = dropmost (A, tol, kind);
%!   check_sparsest (A, tol, kind, B, t, d);
%! endfor

%!test
%! ## It never keeps more than a cold or warm dropsmall call with the same tol.
%! randn ("seed", 5); rand ("seed", 5);
%! A = gallery ("poisson", 30) + 1e-3 * sprandn (900, 900, 0.01);
%! for k = 1:3
%!   tol = 1e-2 * spgauge (A, kinds{k});
%!   [C, r] = dropsmall (A, tol, kinds{k}, 0);
%!   W = dropsmall (A, tol, kinds{k}, r);
%!   B = dropmost (A, tol, kinds{k});
%!   assert (nnz (B) <= min (nnz (C), nnz (W)));
%! endfor

%!test
%! ## The same answer at every scale.
%! A = sparse ([1 0.25; 1 0; 0.5 3]);
%! for k = 1:3
%!   [B, t, d] = dropmost (A, 1.3, kinds{k});
%!   [B2, t2, d2] = dropmost (A * 2^-300, 1.3 * 2^-300, kinds{k});
%!   assert (isequal (B2, B * 2^-300) && t2 == t * 2^-300 && d2 == d * 2^-300);
%! endfor

%!test
%! ## tol of any numeric class, one real number.
%! A = sparse ([1 2 3]);
%! assert (nnz (dropmost (A, int8 (3), 1)), 0);      # every column fits alone
%! assert (nnz (dropmost (A, single (3), "inf")), 1);  # 1 + 2 fit the row
%! assert (nnz (dropmost (A, sparse (3), "fro")), 1);  # sqrt(5) fits, sqrt(14) does not

%!test
%! ## One output, two, three; inputs left as they were.
%! A = sparse ([3 -4 0.5]);
%! [i, j, v] = find (A);
%! B = dropmost (A, 1, "fro");
%! [B2, t] = dropmost (A, 1, "fro");
%! assert (isequal (B, B2) && t == 0.5);
%! [i2, j2, v2] = find (A);
%! assert (isequal ([i j v], [i2 j2 v2]));

%!error <Three inputs required> dropmost (sparse (1), 1)
%!error <Too many output arguments> [a, b, c, d] = dropmost (sparse (1), 1, 1)
%!error <Input must be a sparse matrix> dropmost (eye (2), 1, 1)
%!error <Input must be noncomplex double> dropmost (sparse ([1i 2]), 1, 1)
%!error <Input must be noncomplex double> dropmost (sparse (true), 1, 1)
%!error <Only for 1-norm, inf-norm and fro-norm> dropmost (sparse (1), 1, "Inf")
%!error <Only for 1-norm, inf-norm and fro-norm> dropmost (sparse (1), 1, 2)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), -1, 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), NaN, 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), [1 2], 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), [], 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), complex (1, 0), 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), true, 1)
%!error <Tolerance must be a nonnegative number> dropmost (sparse (1), "1", 1)
%!error id=dropmost:nargin dropmost (sparse (1))
%!error id=dropmost:nargout [a, b, c, d] = dropmost (sparse (1), 1, 1)
%!error id=dropmost:notSparse dropmost (1, 1, 1)
%!error id=dropmost:notRealDouble dropmost (sparse (true), 1, 1)
%!error id=dropmost:kind dropmost (sparse (1), 1, "one")
%!error id=dropmost:tolerance dropmost (sparse (1), -1, 1)
