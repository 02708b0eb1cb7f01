## dropsmall in GNU Octave: worked examples, whole-call properties and the messages in their order.
## Run with test('dropsmall_tests.m') after adding the folder of the built extension to the path.

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
%! ## Inputs are left as they were; tol and ratio of other classes are read by value.
%! A = sprandn (40, 30, 0.2); A0 = A;
%! [B, r] = dropsmall (A, single (0.5), "fro", uint8 (0));
%! assert (isequal (A, A0));
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
