## spgauge in GNU Octave: results against plain sequential sums, the messages in their order.
## Run with test('spgauge_tests.m') after adding the folder of the built extension to the path.

%!function n = plain_norm (A, kind)
%!  [i, j, v] = find (A);
%!  switch (kind)
%!    case "fro"
%!      s = 0;
%!      for k = 1:numel (v)
%!        s = s + v(k) * v(k);
%!      endfor
%!      n = sqrt (s);
%!    case "one"
%!      sums = zeros (1, columns (A));
%!      for k = 1:numel (v)
%!        sums(j(k)) = sums(j(k)) + abs (v(k));
%!      endfor
%!      n = max ([0, sums(sums > 0)]);
%!    case "inf"
%!      sums = zeros (1, rows (A));
%!      for k = 1:numel (v)
%!        sums(i(k)) = sums(i(k)) + abs (v(k));
%!      endfor
%!      n = max ([0, sums(sums > 0)]);
%!  endswitch
%!endfunction

%!test
%! A = sparse ([1 0 -2; 0 3 0; 4 0 5]);
%! assert (spgauge (A, 1), 7);
%! assert (spgauge (A, "inf"), 9);
%! assert (spgauge (A, "fro"), sqrt (55));
%! assert (spgauge (A, [1 2]), 7);
%! assert (spgauge (A, int8 (1)), 7);
%! assert (spgauge (A, true), 7);

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
%! ## Inputs are left as they were.
%! A = sprandn (30, 20, 0.3); B = A; kind = "fro";
%! spgauge (A, kind);
%! assert (isequal (A, B) && strcmp (kind, "fro"));

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
