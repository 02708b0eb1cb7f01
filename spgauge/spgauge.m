%SPGAUGE  1-, infinity- or Frobenius norm of a real sparse matrix, bit for bit.
%
%   N = SPGAUGE(A, 1)      largest column sum of magnitudes, NORM(A, 1)
%   N = SPGAUGE(A, 'inf')  largest row sum of magnitudes, NORM(A, Inf)
%   N = SPGAUGE(A, 'fro')  square root of the sum of squares, NORM(A, 'fro')
%
%   These are matrix norms: for a row vector v, SPGAUGE(v, 1) is the largest
%   magnitude in v (each column holds one entry), not NORM(v, 1).
%
%   A must be a real (not complex) sparse double matrix with two dimensions.
%   The norm is read straight from A's compressed-sparse-column storage,
%   without a copy. Every sum is one running total taken in storage order
%   (column by column, down each column), so the same matrix always gives
%   the same bits on any machine.
%
%   Reproducible is not more accurate: a running total of n terms has a
%   relative error of at most about (n-1)*u for a column or row sum, and
%   (n/2+1)*u for 'fro' (n squares, then the square root), u = 2^-53. On a
%   3-D trilinear finite-element stiffness matrix with 1.27 million entries
%   'fro' was 2.9e-12 off the exact norm (NORM: 6e-17).
%
%   KIND as a number: any numeric or logical array whose first element (the
%   real part of a complex one), converted to double, equals 1; so 1, true,
%   int8(1), [1 2] and 1+1i all select the 1-norm. KIND as text: 'fro' or
%   'inf' in one row, lower case; characters from a NUL (char(0)) on are
%   ignored. In MATLAB the strings "inf" and "fro" work too. 'Inf', 'FRO',
%   '1', the number Inf and an empty array are refused.
%
%   NaN and Inf:
%     - 'fro': a stored NaN gives NaN; otherwise a stored Inf gives Inf.
%     - 1 and 'inf': a column (row) whose sum is NaN is passed over; the
%       result is the largest of the other sums, or 0 when every column (row)
%       holds a NaN. A column (row) with an Inf and no NaN gives Inf.
%   Where the plain sum of squares would overflow (a value above about
%   1.3e154) or come to less than 2^-969 (about 2e-292, where squares may
%   have lost bits to underflow), 'fro' sums the values scaled by a power of
%   two, so it does not overflow to Inf or underflow to 0 when the norm
%   itself is representable. An empty matrix, or one without stored entries,
%   has norm 0.
%
%   Errors, in the order they are checked (catch them by identifier):
%     spgauge:nargin             Two inputs required.
%     spgauge:nargout            Too many output arguments
%     spgauge:notSparse          Input must be a sparse matrix.
%     spgauge:notRealDouble      Input must be noncomplex double.
%                                (A is complex or logical)
%     spgauge:notTwoDimensional  Input argument must be two dimensional
%     spgauge:kind               Only for 1-norm, inf-norm and fro-norm.
%
%   Example:
%     A = gallery('poisson', 100);      % 2-D Laplacian, 10000-by-10000
%     [spgauge(A, 1), spgauge(A, 'inf'), spgauge(A, 'fro')]
%
%   See also NORM, DROPSMALL.

%!demo
%! ## The three norms beside Octave's norm: the same numbers, and spgauge gives the same bits
%! ## every time. The Laplacian's sums are exact; the random matrix's may differ in the last
%! ## bits, since norm sums its squares in another way.
%! randn ("state", 1); rand ("state", 1);
%! mats = {gallery("poisson", 100), sprandn(2000, 2000, 0.01)};
%! names = {"2-D Laplacian", "random"};
%! kinds = {1, "inf", "fro"};
%! p = {1, Inf, "fro"};
%! for m = 1:2
%!   printf ("%s, %d stored entries:\n", names{m}, nnz (mats{m}));
%!   for k = 1:3
%!     printf ("  %-4s spgauge %.17g   norm %.17g\n", num2str (kinds{k}),
%!             spgauge (mats{m}, kinds{k}), norm (mats{m}, p{k}));
%!   endfor
%! endfor

%!function n = plain_norm (A, kind)
%!  [i, j, v] = find (A);
%!  if (strcmp (kind, "fro"))
%!    s = 0;
%!    for k = 1:numel (v)
%!      s = s + v(k) * v(k);
%!    endfor
%!    n = sqrt (s);
%!    return;
%!  endif
%!  ## Column sums for the 1-norm, row sums for the infinity norm, each in storage order.
%!  if (strcmp (kind, "one"))
%!    g = j; ng = columns (A);
%!  else
%!    g = i; ng = rows (A);
%!  endif
%!  sums = zeros (1, ng);
%!  for k = 1:numel (v)
%!    sums(g(k)) = sums(g(k)) + abs (v(k));
%!  endfor
%!  n = max ([0, sums(sums > 0)]);
%!endfunction

%!test
%! A = sparse ([1 0 -2; 0 3 0; 4 0 5]);
%! assert (spgauge (A, 1), 7);
%! assert (spgauge (A, "inf"), 9);
%! assert (spgauge (A, "fro"), sqrt (55));
%! assert (spgauge (A, [1 2]), 7);
%! assert (spgauge (A, int8 (1)), 7);
%! assert (spgauge (A, true), 7);
%! assert (spgauge (A, 1 + 1i), 7);
%! assert (spgauge (A, char ([102 114 111 0])), sqrt (55));    # text ends at a NUL

%!test
%! ## Bit for bit against a plain running sum in storage order.
%! rand ("seed", 7); randn ("seed", 7);
%! for t = 1:60
%!   m = randi (40); n = randi (40);
%!   A = sprandn (m, n, rand ());
%!   A = A .* (10 .^ round (4 * randn (size (A))));
%!   assert (spgauge (A, "fro"), plain_norm (A, "fro"));
%!   assert (spgauge (A, 1), plain_norm (A, "one"));
%!   assert (spgauge (A, "inf"), plain_norm (A, "inf"));
%! endfor

%!test
%! ## Storage order decides the rounding.
%! assert (spgauge (sparse ([1e16; 1; 1]), 1), 1e16);
%! assert (spgauge (sparse ([1; 1; 1e16]), 1), 1e16 + 2);
%! assert (spgauge (sparse ([1e16, 1, 1]), "inf"), 1e16);

%!test
%! ## NaN columns and rows are passed over; huge and tiny values do not overflow or vanish.
%! A = sparse ([NaN 1; 5 -2]);
%! assert (spgauge (A, 1), 3);
%! assert (spgauge (A, "inf"), 7);
%! assert (isnan (spgauge (A, "fro")));
%! assert (spgauge (sparse (NaN), 1), 0);
%! assert (spgauge (sparse ([3e200; -4e200]), "fro"), 5e200, 4 * eps (5e200));
%! assert (spgauge (sparse (1e-200), "fro"), 1e-200);
%! assert (spgauge (sparse ([1e200 Inf]), "fro"), Inf);

%!test
%! ## Empty shapes give +0; no output requested still computes the norm.
%! for A = {sparse(0, 0), sparse(0, 4), sparse(4, 0), sparse(3, 3)}
%!   assert (spgauge (A{1}, "fro"), 0);
%!   assert (spgauge (A{1}, 1), 0);
%!   assert (spgauge (A{1}, "inf"), 0);
%! endfor
%! spgauge (speye (3), 1);
%! assert (ans, 1);

%!test
%! ## Inputs are left as they were, compared with copies of their contents made before the
%! ## call: B = A would share A's storage and see any write into it.
%! A = sprandn (30, 20, 0.3); [i, j, v] = find (A); kind = "fro";
%! spgauge (A, kind);
%! [i2, j2, v2] = find (A);
%! assert (isequal ([i2, j2, v2], [i, j, v]) && isequal (size (A), [30, 20]));
%! assert (kind, "fro");

%!error <Two inputs required.> spgauge (sparse (1))
%!error <Two inputs required.> [a, b] = spgauge (sparse (1), 1, 2)
%!error <Too many output arguments> [a, b] = spgauge (sparse (1), "FRO")
%!error <Input must be a sparse matrix.> spgauge (eye (2), "FRO")
%!error <Input must be noncomplex double.> spgauge (sparse ([1i 2]), "FRO")
%!error <Input must be noncomplex double.> spgauge (sparse (true), 1)
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), "FRO")
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), "Inf")
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), "fro ")
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), "1")
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), "")
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), ["fro"; "inf"])
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), Inf)
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), NaN)
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), 1 + eps)
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), [2 1])
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), [])
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), int8 ([]))
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), {1})
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), struct ("a", 1))
%!error <Only for 1-norm, inf-norm and fro-norm.> spgauge (sparse (1), @sin)
%!error <spgauge: Input must be a sparse matrix.> spgauge (single (1), 1)

% Every message carries its identifier, in the order the checks run.
%!error id=spgauge:nargin spgauge (sparse (1))
%!error id=spgauge:nargin spgauge (sparse (1), 1, 2)
%!error id=spgauge:nargout [a, b] = spgauge (sparse (1), "FRO")
%!error id=spgauge:notSparse spgauge (eye (2), "FRO")
%!error id=spgauge:notRealDouble spgauge (sparse ([1i 2]), "FRO")
%!error id=spgauge:notRealDouble spgauge (sparse (true), 1)
%!error id=spgauge:kind spgauge (sparse (1), "FRO")
%!error id=spgauge:kind spgauge (sparse (1), {1})
%!error id=spgauge:kind spgauge (sparse (1), "infinity")
