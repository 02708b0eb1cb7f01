%DROPSMALL  Drop the small entries of a sparse matrix within a norm bound.
%
%   [B, RATIO] = DROPSMALL(A, TOL, KIND, RATIO)
%   B = DROPSMALL(A, TOL, KIND, RATIO)
%
%   B is a copy of the real sparse double matrix A without every stored
%   entry whose magnitude is at or below a threshold T, with T chosen so that
%   the KIND-norm of the dropped part (the matrix of the dropped entries
%   alone) stays within TOL:
%
%       norm(A - B, KIND) <= TOL      (KIND is 1, 'inf' or 'fro')
%
%   B keeps A's size, and its entries keep their values, signs and order.
%   Entries equal to T are dropped; NaN entries are always kept; Inf entries
%   are kept unless T is Inf. KIND is read exactly as by SPGAUGE.
%
%   The threshold: the search starts at T = TOL / RATIO (RATIO 0 reads as 1)
%   and only goes down. While the dropped part's norm D is above TOL it moves
%   T to TOL / (D / T), never below a floor that is safe for any values:
%   TOL/sqrt(nnz(A)) for 'fro', TOL over the most entries in a column for 1,
%   TOL/columns(A) for 'inf'; every entry at or below the floor is dropped.
%   The RATIO returned is D / T of the last step, the guess to pass in on the
%   next call with a similar matrix, which then needs fewer passes (a warm
%   start).
%
%   What is promised: the bound above, always (it is measured afresh before
%   the search stops). What is not: T is not the largest threshold within
%   TOL. Since T only goes down from TOL / RATIO, a cold call can drop far
%   less than it might, even nothing: with 100 entries of 0.5, TOL = 1 and
%   'fro', T starts at 1, the dropped norm there is 5, T moves to 0.2 and
%   nothing is dropped, though 4 entries could go. The returned RATIO (5)
%   carries that start into the next call.
%
%   A RATIO so large that TOL/RATIO is at or below the floor, a negative
%   RATIO, or TOL = 0 start at the floor. TOL = NaN or RATIO = NaN drop
%   nothing. TOL and RATIO may be of any numeric or logical class; only their
%   first element counts.
%
%   Errors, in the order they are checked (catch them by identifier):
%     dropsmall:nargin             Four inputs required.
%     dropsmall:nargout            Too many output arguments
%     dropsmall:notSparse          Input must be a sparse matrix.
%     dropsmall:notRealDouble      Input must be noncomplex double.
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
%! ## Ratio 0 reads as 1; NaN starts at the floor and comes back; NaN tol drops nothing.
%! [B, r] = dropsmall (sparse ([1e-9; -1]), 1, "fro", 0);
%! assert (nnz (B), 0);
%! assert (size (B), [2 1]);
%! assert (r, 1);
%! [B, r] = dropsmall (sparse ([1e-9; -1]), 1, "fro", NaN);
%! assert (full (B), [0; -1]);
%! assert (isnan (r));
%! [B, r] = dropsmall (sparse ([1e-9; -1]), NaN, 1, 0);
%! assert (full (B), [1e-9; -1]);

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
