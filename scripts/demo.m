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

## dropsmall: a matrix whose entries spread over six decades, filtered under each norm.
n = 20000;
A = sprandn (n, n, 5e-4);
A = A .* spfun (@(x) 10 .^ (-6 * x), sprand (A ~= 0));
A = A + speye (n);
printf ("\ndropsmall on a %d-by-%d matrix with %d stored entries spread over six decades\n", n, n, nnz (A));
printf ("  %-4s %12s %12s %12s %14s %8s %12s\n", "kind", "tol", "nnz before", "nnz after", ...
        "norm(A-B,kind)", "<= tol", "ratio out");
for k = 1:3
  tol = 1e-2 * norm (A, kinds{k});
  [B, ratio] = dropsmall (A, tol, kinds{k}, 0);
  dropped = norm (A - B, kinds{k});
  printf ("  %-4s %12.4g %12d %12d %14.6g %8s %12.6g\n", names{k}, tol, nnz (A), nnz (B), ...
          dropped, mat2str (dropped <= tol), ratio);
endfor

## dropmost on the same matrix: the sparsest threshold within the same tol, beside dropsmall's.
printf ("\ndropmost on the same matrix: the largest threshold whose dropped part fits tol\n");
printf ("  %-4s %12s %14s %14s %12s %12s\n", "kind", "tol", "nnz dropmost", "nnz dropsmall", ...
        "threshold", "dropped/tol");
for k = 1:3
  tol = 1e-2 * norm (A, kinds{k});
  [B, threshold, dropped] = dropmost (A, tol, kinds{k});
  C = dropsmall (A, tol, kinds{k}, 0);
  printf ("  %-4s %12.4g %14d %14d %12.4g %12.4f\n", names{k}, tol, nnz (B), nnz (C), ...
          threshold, dropped / tol);
endfor
