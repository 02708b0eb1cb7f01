%DROPSMALL  Drop the small entries of a sparse matrix within a norm bound.
%
%   [B, RATIO] = DROPSMALL(A, TOL, KIND, RATIO)
%   B = DROPSMALL(A, TOL, KIND, RATIO)
%
%   B is a copy of the real sparse double matrix A without every stored
%   entry whose magnitude is at or below a threshold T, with T chosen so that
%   the KIND-norm of the dropped part D (the matrix of the dropped entries
%   alone) stays within TOL:
%
%       SPGAUGE(D, KIND) <= TOL       (KIND is 1, 'inf' or 'fro')
%
%   where D = A; D(B ~= 0) = 0. That is NORM(A - B, KIND) unless A holds
%   NaN or Inf entries that B keeps: NaN - NaN and Inf - Inf make A - B NaN.
%
%   B keeps A's size, and its entries keep their values, signs and order.
%   Entries equal to T are dropped; NaN entries are always kept; Inf entries
%   are kept unless T is Inf. KIND is read exactly as by SPGAUGE.
%
%   The threshold: the search starts at T = TOL / RATIO (RATIO 0 reads as 1)
%   and only goes down. While the dropped part's norm N is above TOL it moves
%   T to TOL / (N / T), never below a floor that is safe for any values:
%   TOL/sqrt(nnz(A)) for 'fro', TOL over the most entries in a column for 1,
%   TOL/columns(A) for 'inf'; every entry at or below the floor is dropped.
%   The RATIO returned is N / T of the last step (the RATIO passed in, 1 for
%   0, when no step was needed): the guess to pass in on the next call with
%   a similar matrix, which then needs fewer passes (a warm start).
%
%   What is promised: the bound above, always (it is measured afresh before
%   the search stops). What is not: T is not the largest threshold within
%   TOL. Since T only goes down from TOL / RATIO, a cold call can drop far
%   less than it might, even nothing: with 100 entries of 0.5, TOL = 1 and
%   'fro', T starts at 1, the dropped norm there is 5, T moves to 0.2 and
%   nothing is dropped, though 4 entries could go. The returned RATIO (5)
%   carries that start into the next call.
%
%   Warm starts: a call either returns the RATIO it was given or a larger
%   one, so along a chain of calls the ratio never falls, and one unusual
%   matrix lowers the start (and what is dropped) of every later call. A
%   RATIO of Inf (returned after an overflow: a sum, or the ratio itself,
%   beyond the largest double) or NaN starts every later call at the floor.
%   Pass 0 instead of a RATIO that is not finite, and RATIO / 2 where the
%   threshold should be free to rise again.
%
%   A RATIO so large that TOL/RATIO is at or below the floor, a negative or
%   NaN RATIO, or TOL = 0 start at the floor: RATIO NaN with TOL = 0.5 and
%   'fro' drops the 0.1 of SPARSE([1 2 0.1]), and returns RATIO NaN.
%   TOL = NaN drops nothing and returns the RATIO passed in (1 for 0).
%
%   TOL and RATIO: the first element of any numeric or logical array, full
%   or sparse, converted to double (the real part of a complex one); the
%   rest is ignored, so [1 -1] reads as 1 and 1+2i as 1. TOL must not be
%   negative. Empty arrays, text, cells, structs and function handles are
%   refused.
%
%   Errors, in the order they are checked (catch them by identifier):
%     dropsmall:nargin             Four inputs required.
%     dropsmall:nargout            Too many output arguments
%     dropsmall:notSparse          Input must be a sparse matrix.
%     dropsmall:notRealDouble      Input must be noncomplex double.
%                                  (A is complex or logical)
%     dropsmall:notTwoDimensional  Input argument must be two dimensional
%     dropsmall:kind               Only for 1-norm, inf-norm and fro-norm.
%     dropsmall:tolerance          Tolerance must be a nonnegative number.
%     dropsmall:ratio              Ratio must be a number.
%     dropsmall:tooManyEntries     Too many stored entries.
%                                  (more than 2^31-1 stored entries)
%
%   Example, a warm start over a matrix that changes a little each step:
%     A0 = gallery('poisson', 50);           % 2500-by-2500
%     E = sprandn(2500, 2500, 1e-3);         % small entries to drop
%     ratio = 0;                             % the first call starts cold
%     for step = 1:5
%       A = A0 + 1e-3 * step * E;
%       tol = 1e-2 * spgauge(A, 'fro');
%       [B, ratio] = dropsmall(A, tol, 'fro', ratio);
%       fprintf('%d of %d kept\n', nnz(B), nnz(A));
%     end
%
%   See also SPGAUGE, NORM.

%!demo
%! ## The 2-D Laplacian plus small noise: each kind drops the noise within a tenth of a
%! ## percent of its norm. The dropped part is measured with spgauge, as the bound is.
%! randn ("state", 1); rand ("state", 1);
%! A = gallery ("poisson", 60) + 1e-4 * sprandn (3600, 3600, 2e-3);
%! for kind = {1, "inf", "fro"}
%!   tol = 1e-3 * spgauge (A, kind{1});
%!   [B, ratio] = dropsmall (A, tol, kind{1}, 0);
%!   D = A; D(B != 0) = 0;    # the dropped entries alone
%!   printf ("%-3s: kept %5d of %5d entries, dropped %5d with norm %.3g <= tol %.3g, ratio %.3g\n",
%!           num2str (kind{1}), nnz (B), nnz (A), nnz (D), spgauge (D, kind{1}), tol, ratio);
%! endfor

%!function check_filtered (A, B, tol, kind)
%!  assert (issparse (B) && isreal (B) && isa (B, "double"));
%!  assert (size (B), size (A));
%!  [i, j, v] = find (B);
%!  assert (full (A(sub2ind (size (A), i, j))), v);
%!  dropped = A - B;
%!  kept = abs (nonzeros (B)); kept = kept(! isnan (kept));
%!  gone = abs (nonzeros (dropped));
%!  if (! isempty (kept) && ! isempty (gone))
%!    assert (max (gone) < min (kept));
%!  endif
%!  if (! isnan (tol))
%!    assert (norm (dropped, kind) <= tol * (1 + 1e-12));
%!  endif
%!endfunction

%!test
%! [B, r] = dropsmall (sparse ([1; 1; 1; 1]), 1, "fro", 1);
%! assert (full (B), [1; 1; 1; 1]);
%! assert (r, 2);

%!test
%! [B, r] = dropsmall (sparse ([0.1; 0.3; 0.2; 5]), 0.25, "fro", 1);
%! assert (full (B), [0; 0.3; 0; 5]);
%! assert (r, 1);

%!test
%! [B, r] = dropsmall (sparse ([0.3; 0.4; 5]), 0.5, 1, 1);
%! assert (full (B), [0; 0.4; 5]);
%! assert (r, 1.4);
%! [B, r] = dropsmall (sparse ([0.3, 0.4, 5]), 0.5, "inf", 1);
%! assert (full (B), [0, 0.4, 5]);
%! assert (r, 1.4);

%!test
%! ## Ratio 0 reads as 1; NaN starts at the floor and comes back; NaN tol drops nothing and
%! ## returns the ratio it was given.
%! [B, r] = dropsmall (sparse ([1e-9; -1]), 1, "fro", 0);
%! assert (nnz (B), 0);
%! assert (size (B), [2 1]);
%! assert (r, 1);
%! [B, r] = dropsmall (sparse ([1e-9; -1]), 1, "fro", NaN);
%! assert (full (B), [0; -1]);
%! assert (isnan (r));
%! [B, r] = dropsmall (sparse ([1 2 0.1]), 0.5, "fro", NaN);
%! assert (full (B), [1 2 0]);
%! [B, r] = dropsmall (sparse ([1e-9; -1]), NaN, 1, 0);
%! assert (full (B), [1e-9; -1]);
%! assert (r, 1);
%! [B, r] = dropsmall (sparse ([1e-9; -1]), NaN, 1, NaN);
%! assert (full (B), [1e-9; -1]);
%! assert (isnan (r));

%!test
%! ## A and tol times a power of two: the same answer times that power, until tol / ratio
%! ## overflows and the search starts at another place.
%! rand ("seed", 4); randn ("seed", 4);
%! A = sprandn (20, 20, 0.3);
%! for kind = {"fro", 1, "inf"}
%!   tol = 0.3 * norm (A, kind{1});
%!   [B, r] = dropsmall (A, tol, kind{1}, 0.5);
%!   [B2, r2] = dropsmall (A * 2^300, tol * 2^300, kind{1}, 0.5);
%!   assert (isequal (B2, B * 2^300) && r2 == r);
%! endfor
%! A = sparse ([1 0.25; 1 0]);
%! assert (nnz (dropsmall (A, 0.25, "fro", 2^-10)), 3);
%! assert (nnz (dropsmall (A * 2^1016, 0.25 * 2^1016, "fro", 2^-10)), 2);

%!test
%! ## The bound holds for the dropped part; A - B is NaN where a kept NaN or Inf meets itself.
%! A = sparse ([NaN; 0.001; 5; Inf]);
%! B = dropsmall (A, 0.01, "fro", 0);
%! D = A; D(B != 0) = 0;
%! assert (full (D), [0; 0.001; 0; 0]);
%! assert (spgauge (D, "fro") <= 0.01);
%! assert (isnan (spgauge (A - B, "fro")));

%!test
%! ## NaN entries are kept, infinite ones too unless the threshold is infinite.
%! B = dropsmall (sparse ([NaN; Inf; -Inf; 1]), 2, 1, 0);
%! assert (isequaln (full (B), [NaN; Inf; -Inf; 0]));

%!test
%! ## One output; the search always ends, and the dropped part keeps within tol.
%! B = dropsmall (sparse ([1; 2]), 1, "fro", 0.3);
%! check_filtered (sparse ([1; 2]), B, 1, "fro");
%! B = dropsmall (sparse ([1e8; 0.6; 0.6; 0.6; 0.6; 0.6]), 1.2, "fro", 1e-8);
%! check_filtered (sparse ([1e8; 0.6; 0.6; 0.6; 0.6; 0.6]), B, 1.2, "fro");
%! B = dropsmall (sparse ([1e17; 0.9; 0.9; 0.9]), 2, 1, 1e-17);
%! check_filtered (sparse ([1e17; 0.9; 0.9; 0.9]), B, 2, 1);
%! B = dropsmall (sparse ([1; 2]), 1, "fro", 1e-310);
%! check_filtered (sparse ([1; 2]), B, 1, "fro");

%!test
%! ## Random matrices, every kind, tolerances up to above the norm, warm starts.
%! rand ("seed", 3); randn ("seed", 3);
%! kinds = {"fro", 1, "inf"};
%! for t = 1:90
%!   A = sprandn (randi (30), randi (30), rand ());
%!   if (mod (t, 2))
%!     A = round (4 * A) / 4;    # ties
%!   endif
%!   kind = kinds{mod (t, 3) + 1};
%!   tol = rand () * 1.5 * norm (A, kind);
%!   [B, r] = dropsmall (A, tol, kind, 0);
%!   check_filtered (A, B, tol, kind);
%!   [B2, r2] = dropsmall (A * 1.01, tol, kind, r);
%!   check_filtered (A * 1.01, B2, tol, kind);
%! endfor

%!test
%! ## Inputs are left as they were, compared with copies of their contents made before the
%! ## call (A0 = A would share A's storage and see any write into it); tol and ratio of other
%! ## classes are read by value.
%! A = sprandn (40, 30, 0.2); [i, j, v] = find (A);
%! tol = single (0.5); ratio = uint8 (0);
%! [B, r] = dropsmall (A, tol, "fro", ratio);
%! [i2, j2, v2] = find (A);
%! assert (isequal ([i2, j2, v2], [i, j, v]) && isequal (size (A), [40, 30]));
%! assert (tol, single (0.5));
%! assert (ratio, uint8 (0));
%! check_filtered (A, B, 0.5, "fro");
%! assert (class (r), "double");
%! ## Only the first element counts, and a complex one's real part.
%! assert (isequal (dropsmall (A, [0.5 -1], "fro", 0), dropsmall (A, 0.5 + 2i, "fro", 0), B));

%!error <Four inputs required.> dropsmall (sparse (1), 1, "fro")
%!error <Four inputs required.> dropsmall (sparse (1), 1, "fro", 0, 0)
%!error <Too many output arguments> [a, b, c] = dropsmall (eye (2), -1, "x", {})
%!error <Input must be a sparse matrix.> dropsmall (eye (2), -1, "x", {})
%!error <Input must be noncomplex double.> dropsmall (sparse (1i), -1, "x", {})
%!error <Input must be noncomplex double.> dropsmall (sparse (true), -1, "x", {})
%!error <Only for 1-norm, inf-norm and fro-norm.> dropsmall (sparse (1), -1, "x", {})
%!error <Only for 1-norm, inf-norm and fro-norm.> dropsmall (sparse (1), "fro", "x", 0)
%!error <Tolerance must be a nonnegative number.> dropsmall (sparse (1), "fro", 1, 0)
%!error <Tolerance must be a nonnegative number.> dropsmall (sparse (1), -1, "fro", {})
%!error <Tolerance must be a nonnegative number.> dropsmall (sparse (1), [], "fro", 0)
%!error <Tolerance must be a nonnegative number.> dropsmall (sparse (1), "fro", "fro", 0)
%!error <Tolerance must be a nonnegative number.> dropsmall (sparse (1), {1}, "fro", 0)
%!error <Ratio must be a number.> dropsmall (sparse (1), 1, "fro", {})
%!error <Ratio must be a number.> dropsmall (sparse (1), 1, "fro", [])
%!error <Ratio must be a number.> dropsmall (sparse (1), 1, "fro", "0")

% Every message carries its identifier, in the order the checks run.
%!error id=dropsmall:nargin dropsmall (sparse (1), 1, "fro")
%!error id=dropsmall:nargout [a, b, c] = dropsmall (eye (2), -1, "x", {})
%!error id=dropsmall:notSparse dropsmall (eye (2), -1, "x", {})
%!error id=dropsmall:notRealDouble dropsmall (sparse (1i), -1, "x", {})
%!error id=dropsmall:kind dropsmall (sparse (1), -1, "x", {})
%!error id=dropsmall:tolerance dropsmall (sparse (1), -1, "fro", {})
%!error id=dropsmall:ratio dropsmall (sparse (1), 1, "fro", "0")

%!test
%! ## A cold start only lowers the threshold from tol: here nothing is dropped.
%! A = sparse (0.5 * ones (100, 1));
%! [B, r] = dropsmall (A, 1, "fro", 0);
%! assert (nnz (B), 100);
%! assert (r, 5);
