## A short run through the extensions: every norm kind on matrices with awkward values and
## shapes, filtering with one and two outputs and warm starts, and each refusal, whose error
## unwinds out of the extension. Any failed assertion ends the run. It runs twice: in plain
## Octave on every machine, and under Valgrind's memcheck where valgrind can run Octave.
1;  # a script, not a function file

function expect_error (f, pattern)
  try
    f ();
  catch err
    assert (! isempty (strfind (err.message, pattern)), err.message);
    return;
  end_try_catch
  error ("no error, expected: %s", pattern);
endfunction

rand ("seed", 11); randn ("seed", 11);
kinds = {"fro", 1, "inf"};
mats = {sparse(0, 0), sparse(0, 4), sparse(5, 0), sparse(3, 3), ...
        sparse([NaN 1; 5 -2]), sparse([1e200 -3e160; 1e-200 4.9e-324]), ...
        sparse([Inf; -Inf; 0; -0; 2]), sparse(1e6, 3, 0)};
for t = 1:4
  A = sprandn (randi (40), randi (40), rand ());
  mats{end+1} = round (4 * A) / 4;
endfor
mats{end+1} = sprandn (300, 200, 0.05);

for m = 1:numel (mats)
  A = mats{m};
  for k = 1:3
    kind = kinds{k};
    n = spgauge (A, kind);
    assert (isscalar (n) && isreal (n));
    tol = 0.3 * n;
    [B, r] = dropsmall (A, tol, kind, 0);
    assert (issparse (B) && isequal (size (B), size (A)));
    if (! isnan (tol))
      B2 = dropsmall (A * 1.01, tol, kind, r);
      assert (issparse (B2));
    endif
    B3 = dropsmall (A, 1e-300, kind, 1e300);
    [B4, r4] = dropsmall (A, tol, kind, NaN);
    assert (isnan (r4) || r4 >= 0 || r4 < 0);
    if (! isnan (tol))
      [B5, t5, d5] = dropmost (A, tol, kind);
      assert (issparse (B5) && isequal (size (B5), size (A)) && d5 <= tol);
      B6 = dropmost (A, Inf, kind);
      assert (nnz (B6) == nnz (isnan (A)));
    endif
  endfor
endfor
## Many entries: the histograms of dropmost's magnitudes before its window is sorted.
W = sprandn (2000, 2000, 2e-3);
for k = 1:3
  [B, t, d] = dropmost (W, 1e-2 * spgauge (W, kinds{k}), kinds{k});
  assert (d <= 1e-2 * spgauge (W, kinds{k}) && nnz (B) < nnz (W));
endfor
spgauge (speye (3), 1);
assert (ans, 1);

expect_error (@() spgauge (sparse (1)), "Two inputs required.");
expect_error (@() spgauge (eye (2), "fro"), "Input must be a sparse matrix.");
expect_error (@() spgauge (sparse ([1i 2]), "fro"), "Input must be noncomplex double.");
expect_error (@() spgauge (sparse (1), "frobenius"), "Only for 1-norm, inf-norm and fro-norm.");
expect_error (@() spgauge (sparse (1), ["fro"; "inf"]), "Only for 1-norm, inf-norm and fro-norm.");
expect_error (@() spgauge (sparse (1), {1}), "Only for 1-norm, inf-norm and fro-norm.");
expect_error (@() dropsmall (sparse (1), 1, "fro"), "Four inputs required.");
expect_error (@() dropsmall (sparse (true), 1, "fro", 0), "Input must be noncomplex double.");
expect_error (@() dropsmall (sparse (1), 1, "Inf", 0), "Only for 1-norm, inf-norm and fro-norm.");
expect_error (@() dropsmall (sparse (1), -1, "fro", 0), "Tolerance must be a nonnegative number.");
expect_error (@() dropsmall (sparse (1), 1, "inf", {}), "Ratio must be a number.");
expect_error (@() dropmost (sparse (1), 1), "Three inputs required.");
expect_error (@() dropmost (sparse (1), 1, "Inf"), "Only for 1-norm, inf-norm and fro-norm.");
expect_error (@() dropmost (sparse (1), [1 2], 1), "Tolerance must be a nonnegative number.");
## 2^52 rows and one entry: row sums are held only for the rows that hold entries, so the
## infinity norm, a kept entry and a dropped one cost no more than on a 7-row matrix.
tall = sparse (2^52, 1); tall(7) = 3;
assert (spgauge (tall, "inf"), 3);
assert (spgauge (tall, "fro"), 3);
[B, r] = dropsmall (tall, 1, "inf", 1);
assert (isequal (B, tall) && issparse (B) && r == 1);
[B, r] = dropsmall (tall, 3, "inf", 1);
assert (isequal (B, sparse (2^52, 1)) && issparse (B) && r == 1);
[B, t, d] = dropmost (tall, 3, "inf");
assert (isequal (B, sparse (2^52, 1)) && t == 3 && d == 3);
[B, t, d] = dropmost (tall, 2, "inf");
assert (isequal (B, tall) && t == 0 && d == 0);
disp ("memcheck calls done");
