## Times spgauge and dropsmall in GNU Octave beside what an Octave user would write instead:
## norm(A, 1), norm(A, Inf), norm(A, 'fro'); the fixed-threshold filter A .* (abs(A) > t) at the
## threshold dropsmall ended on; and an exact sort-based Frobenius sparsifier. One process, each
## matrix built once and re-used by every call; one warm-up call, then the median of REPS calls,
## in CPU seconds of this process (other programs on the machine do not count), wall-clock
## seconds beside them. spgauge and norm each run their calls in a block of their own: calls
## taking turns hand one function the other's freed memory to fault in afresh (after
## norm(A, Inf) on M1, the 18 MB of spgauge's next row sums took 48 ms to allocate against
## 0.4 ms in a block of spgauge calls), which measures the allocator more than either function.
##
##   octave-cli --norc --no-history bench/octave_bench.m EXTDIR PROBEDIR CSV [REPS] [MATRICES] [PARTS] [TOLS]
##
## EXTDIR holds spgauge.mex and dropsmall.mex, PROBEDIR host_copy_probe.mex; CSV receives one
## line per timed operation; REPS defaults to 9; MATRICES is a comma-separated subset of
## M1,M2,M3,M3T,M4,M5,GL,GLW,GLS (M1 to M5 by default); PARTS a comma-separated subset of
## norms,dropsmall (both by default); TOLS the tolerances of dropsmall as fractions of the norm
## (1e-3,1e-1 by default).

1;

## The medians of f's and g's times, each in a block of its own calls after a warm-up call.
function [cpu_f, wall_f, cpu_g, wall_g] = median_time_pair (f, g, reps)
  [cpu_f, wall_f] = median_time (f, reps);
  [cpu_g, wall_g] = median_time (g, reps);
endfunction

function [cpu, wall] = median_time (f, reps)
  f ();
  c = zeros (reps, 1);
  w = zeros (reps, 1);
  for r = 1:reps
    w0 = tic ();
    c0 = cputime ();
    f ();
    c(r) = cputime () - c0;
    w(r) = toc (w0);
  endfor
  cpu = median (c);
  wall = median (w);
endfunction

## per_col distinct rows in every column: per_col draws from 0 .. nrows - per_col sorted, the
## r-th raised by r - 1 (as the C++ benchmarks build M4 and M5). Normal values.
function A = fixed_column_length (nrows, ncols, per_col, seed)
  rand ("state", seed);
  randn ("state", seed);
  i = sort (floor (rand (per_col, ncols) * (nrows - per_col + 1)), 1) + (1:per_col)';
  j = repmat (1:ncols, per_col, 1);
  A = sparse (i(:), j(:), randn (per_col * ncols, 1), nrows, ncols);
endfunction

## The matrix set of the C++ benchmarks, drawn with Octave's own generators from fixed states:
## same shapes and value distributions, not the same bits.
function A = bench_matrix (name)
  switch (name)
    case "M1"
      n = 1500;
      e = ones (n, 1);
      T = spdiags ([-e, 2 * e, -e], -1:1, n, n);
      I = speye (n);
      [i, j, v] = find (kron (I, T) + kron (T, I));
      rand ("state", 1);
      v = v .* (0.9 + 0.2 * rand (size (v)));
      A = sparse (i, j, v, n * n, n * n);
    case "M2"
      randn ("state", 2); rand ("state", 2);
      A = sprandn (1e6, 1e6, 1e-5);
    case "M3"
      randn ("state", 3); rand ("state", 3);
      A = sprandn (1000, 1e6, 1e-2);
    case "M3T"
      A = bench_matrix ("M3").';
    case "M4"
      A = fixed_column_length (1000, 1e6, 10, 4);
    case "M5"
      A = fixed_column_length (1e6, 1e6, 10, 5);
    case {"GL", "GLW", "GLS"}
      A = graph_laplacian (name);
  endswitch
endfunction

## Octave only: the weighted Laplacian L = D - W of a random graph of 200,000 nodes and 1e6
## random edges (repeated edges summed, no loops), about 2.2e6 stored entries. GL: weights
## uniform in (0, 1); GLW: weights exp(2 randn), spread over many orders of magnitude; GLS:
## uniform weights, one end of each edge drawn towards the first nodes (node degrees from 2 to
## about 16,500).
function A = graph_laplacian (name)
  n = 2e5;
  m = 1e6;
  rand ("state", 6);
  randn ("state", 6);
  i = floor (rand (m, 1) * n) + 1;
  j = floor (rand (m, 1) * n) + 1;
  if (strcmp (name, "GLW"))
    w = exp (2 * randn (m, 1));
  else
    w = rand (m, 1);
  endif
  if (strcmp (name, "GLS"))
    i = ceil (n * rand (m, 1) .^ 3);
  endif
  off = i != j;
  W = sparse (i(off), j(off), w(off), n, n);
  W = W + W.';
  A = spdiags (full (sum (W, 2)), 0, n, n) - W;
endfunction

## The largest threshold t such that the entries with magnitude at or below t have a Frobenius
## norm within tol, found by sorting the magnitudes; B keeps the entries above t.
function B = sort_sparsify (A, tol)
  v = sort (abs (nonzeros (A)));
  c = cumsum (v .^ 2);
  m = find (c <= tol ^ 2, 1, "last");
  t = -1;
  if (! isempty (m))
    if (m < numel (v) && v(m + 1) == v(m))
      m = find (v < v(m), 1, "last");   # a tied value goes all together or not at all
    endif
    if (! isempty (m))
      t = v(m);
    endif
  endif
  B = A .* (abs (A) > t);
endfunction

function row = add_row (fid, mname, nnzA, op, cpu, wall)
  fprintf (fid, "%s,%d,%s,%.6g,%.6g\n", mname, nnzA, op, cpu, wall);
  row = {op, cpu};
endfunction

args = argv ();
if (numel (args) < 3)
  error ("usage: octave-cli --norc --no-history octave_bench.m EXTDIR PROBEDIR CSV [REPS] [MATRICES] [PARTS]");
endif
addpath (args{1});
addpath (args{2});
csv = args{3};
reps = 9;
if (numel (args) >= 4)
  reps = str2double (args{4});
endif
names = {"M1", "M2", "M3", "M3T", "M4", "M5"};
if (numel (args) >= 5)
  names = strsplit (args{5}, ",");
endif
parts = {"norms", "dropsmall"};
if (numel (args) >= 6)
  parts = strsplit (args{6}, ",");
endif

fid = fopen (csv, "w");
fprintf (fid, "matrix,nnz,operation,cpu_seconds,wall_seconds\n");
kinds = {"fro", 1, "inf"};
kind_names = {"fro", "one", "inf"};
builtin_p = {"fro", 1, Inf};
tol_names = {"1e-3", "1e-1"};
if (numel (args) >= 7)
  tol_names = strsplit (args{7}, ",");
endif
tol_factors = str2double (tol_names);

for m = 1:numel (names)
  A = bench_matrix (names{m});
  nz = nnz (A);
  printf ("\n%s: %d x %d, %d stored entries (median of %d runs, CPU ms)\n", names{m}, ...
          rows (A), columns (A), nz, reps);
  if (any (strcmp (parts, "norms")))
    ## The target: spgauge at least 1.5 times faster than norm, for every kind and matrix.
    printf ("%-26s %10s %10s %12s %8s\n", "operation", "spgauge", "norm", "norm/spgauge", "ns/entry");
    for k = 1:3
      kind = kinds{k};
      if (abs (spgauge (A, kind) - norm (A, builtin_p{k})) > 1e-12 * norm (A, builtin_p{k}))
        printf ("  (spgauge and norm differ for %s: %.17g and %.17g)\n", kind_names{k}, ...
                spgauge (A, kind), norm (A, builtin_p{k}));
      endif
      [c1, w1, c2, w2] = median_time_pair (@() spgauge (A, kind), ...
                                           @() norm (A, builtin_p{k}), reps);
      add_row (fid, names{m}, nz, ["spgauge_" kind_names{k}], c1, w1);
      add_row (fid, names{m}, nz, ["norm_" kind_names{k}], c2, w2);
      met = "";
      if (c2 < 1.5 * c1)
        met = "  below the 1.5 target";
      endif
      printf ("%-26s %10.2f %10.2f %12.3f %8.2f%s\n", ["spgauge " kind_names{k} " / norm"], ...
              1e3 * c1, 1e3 * c2, c2 / c1, 1e9 * c1 / nz, met);
    endfor
  endif
  if (! any (strcmp (parts, "dropsmall")))
    clear A;
    continue;
  endif
  printf ("%-26s %10s %10s %10s %8s\n", "operation", "ours", "Octave", "ratio", "ns/entry");
  report = @(op, ours, theirs) printf ("%-26s %10.2f %10.2f %10.3f %8.2f\n", op, ...
                                       1e3 * ours, 1e3 * theirs, ours / theirs, 1e9 * ours / nz);
  for k = 1:3
    kind = kinds{k};
    for f = 1:numel (tol_factors)
      tol = tol_factors(f) * spgauge (A, kind);
      [B, ratio] = dropsmall (A, tol, kind, 0);
      starts = {0, ratio};
      start_names = {"cold", "warm"};
      for s = 1:2
        [B, ratio_out] = dropsmall (A, tol, kind, starts{s});
        case_name = [kind_names{k} "_" tol_names{f} "_" start_names{s}];
        [c1, w1] = median_time (@() dropsmall (A, tol, kind, starts{s}), reps);
        add_row (fid, names{m}, nz, ["dropsmall_" case_name], c1, w1);
        if (s == 1)
          cold_cpu = c1;
        endif
        ## The threshold the call ended on (tol over the returned ratio) in a fixed filter.
        t = tol / ratio_out;
        if (nnz (A .* (abs (A) > t)) != nnz (B))
          printf ("  (the filter at tol / ratio keeps %d entries, dropsmall %d)\n", ...
                  nnz (A .* (abs (A) > t)), nnz (B));
        endif
        [c2, w2] = median_time (@() A .* (abs (A) > t), reps);
        add_row (fid, names{m}, nz, ["filter_" case_name], c2, w2);
        report (["dropsmall " case_name " / filter"], c1, c2);
      endfor
      if (k == 1)
        [c3, w3] = median_time (@() sort_sparsify (A, tol), max (3, floor (reps / 2)));
        add_row (fid, names{m}, nz, ["sortsparsify_fro_" tol_names{f}], c3, w3);
        report (["dropsmall fro_" tol_names{f} "_cold / sort"], cold_cpu, c3);
      endif
    endfor
  endfor
  ## What the host spends on the result: a call that keeps everything (tol 0: no search pass,
  ## a full-size result), one that keeps nothing (tol Inf: no search pass, a result of capacity
  ## 1), and a plain copy of A through the same host calls.
  [c1, w1] = median_time (@() dropsmall (A, 0, "fro", 0), reps);
  add_row (fid, names{m}, nz, "dropsmall_keep_all", c1, w1);
  [c2, w2] = median_time (@() dropsmall (A, Inf, "fro", 0), reps);
  add_row (fid, names{m}, nz, "dropsmall_keep_none", c2, w2);
  [c3, w3] = median_time (@() host_copy_probe (A), reps);
  add_row (fid, names{m}, nz, "host_copy_probe", c3, w3);
  printf ("%-26s %10.2f\n%-26s %10.2f\n%-26s %10.2f\n", "dropsmall keeping all", 1e3 * c1, ...
          "dropsmall keeping none", 1e3 * c2, "host copy probe", 1e3 * c3);
  clear A B;
endfor
fclose (fid);
