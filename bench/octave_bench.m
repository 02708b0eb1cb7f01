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
addpath (fileparts (mfilename ("fullpath")));   # bench_matrix.m, median_time.m
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
