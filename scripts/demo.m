## A short demo of the extensions on real matrices, next to Octave's own built-ins.
rand ("seed", 1); randn ("seed", 1);
mats = {"2-D Laplacian, 300x300 grid", gallery("poisson", 300);
        "random 20000x20000, 1e-3 dense", sprandn(20000, 20000, 1e-3)};
kinds = {1, "inf", "fro"};
names = {"1", "inf", "fro"};
for m = 1:rows (mats)
  A = mats{m, 2};
  printf ("\n%s: %d-by-%d, %d stored entries\n", mats{m, 1}, rows (A), columns (A), nnz (A));
  printf ("  %-4s %24s %24s %10s\n", "kind", "spgauge", "norm (built-in)", "rel. diff");
  for k = 1:3
    ours = spgauge (A, kinds{k});
    theirs = norm (A, kinds{k});
    printf ("  %-4s %24.17g %24.17g %10.1e\n", names{k}, ours, theirs, abs (ours - theirs) / theirs);
  endfor
endfor
