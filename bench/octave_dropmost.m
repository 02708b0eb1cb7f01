## Times dropmost in GNU Octave beside a cold dropsmall call with the same tol and kind, and
## beside what an Octave user could write instead: the distinct magnitudes sorted, and a
## bisection over them that measures with spgauge the part at or below each candidate
## (sort_bisect_drop below, in two forms: over every magnitude, and over those at or below tol
## alone; each must find dropmost's threshold, and the script stops if not).
## One process, each matrix built once and re-used by every call; one warm-up call, then the
## median of REPS calls (for the M-code, which takes seconds, REF_REPS calls and no warm-up) in
## CPU seconds of this process, wall-clock seconds beside them. Each function runs its calls in a block of its own.
##
##   octave-cli --norc --no-history bench/octave_dropmost.m EXTDIR CSV [REPS] [MATRICES] [TOLS] [REF_REPS]
##
## EXTDIR holds spgauge.mex, dropsmall.mex and dropmost.mex (build/octave); CSV receives one
## line per timed operation; REPS defaults to 9; MATRICES is a comma-separated subset of
## M1,M2,M3,M3T,M4,M5,GL,GLW,GLS (bench_matrix.m; all by default); TOLS the tolerances as
## fractions of the kind's norm (1e-6,1e-3,1e-1 by default); REF_REPS defaults to 3.
## The targets: dropmost within 1.5 times a cold dropsmall call, and at least 10 times faster
## than the M-code.

1;

## The largest of 0 and the distinct magnitudes of A's stored entries whose part at or below it
## has spgauge within tol, by bisection over the sorted magnitudes: the measure never falls as
## the threshold rises. With only_small, the bisection works on the entries at or below tol
## alone: no larger magnitude can go, since a part holding one has a norm at least that large.
## B keeps the entries above the threshold t; dropped is spgauge of the part at or below it.
function [B, t, dropped] = sort_bisect_drop (A, tol, kind, only_small)
  [i, j, v] = find (A);
  if (only_small)
    small = abs (v) <= tol;
    i = i(small);
    j = j(small);
    v = v(small);
  endif
  m = abs (v);
  u = unique (m);                       # ascending, distinct
  part = @(t) sparse (i(m <= t), j(m <= t), v(m <= t), rows (A), columns (A));
  lo = 0;                               # the part at or below u(lo) fits (u(0): threshold 0)
  hi = numel (u) + 1;                   # and the part at or below u(hi) does not
  while (hi - lo > 1)
    mid = floor ((lo + hi) / 2);
    if (spgauge (part (u(mid)), kind) <= tol)
      lo = mid;
    else
      hi = mid;
    endif
  endwhile
  t = 0;
  if (lo > 0)
    t = u(lo);
  endif
  dropped = spgauge (part (t), kind);
  B = A .* (abs (A) > t);
endfunction

## The M-code's time, median of reps calls without a warm-up (each takes seconds), and what
## the last call found.
function [cpu, wall, B, t, dropped] = time_sort_bisect (A, tol, kind, only_small, reps)
  c = zeros (reps, 1);
  w = zeros (reps, 1);
  for r = 1:reps
    w0 = tic ();
    c0 = cputime ();
    [B, t, dropped] = sort_bisect_drop (A, tol, kind, only_small);
    c(r) = cputime () - c0;
    w(r) = toc (w0);
  endfor
  cpu = median (c);
  wall = median (w);
endfunction

function text = met_or_missed (ok)
  text = "missed";
  if (ok)
    text = "met";
  endif
endfunction

function add_row (fid, mname, nnzA, op, cpu, wall)
  fprintf (fid, "%s,%d,%s,%.6g,%.6g\n", mname, nnzA, op, cpu, wall);
endfunction

args = argv ();
if (numel (args) < 2)
  error ("usage: octave-cli --norc --no-history octave_dropmost.m EXTDIR CSV [REPS] [MATRICES] [TOLS] [REF_REPS]");
endif
addpath (args{1});
addpath (fileparts (mfilename ("fullpath")));   # bench_matrix.m, median_time.m
csv = args{2};
reps = 9;
if (numel (args) >= 3)
  reps = str2double (args{3});
endif
names = {"M1", "M2", "M3", "M3T", "M4", "M5", "GL", "GLW", "GLS"};
if (numel (args) >= 4)
  names = strsplit (args{4}, ",");
endif
tol_names = {"1e-6", "1e-3", "1e-1"};
if (numel (args) >= 5)
  tol_names = strsplit (args{5}, ",");
endif
tol_factors = str2double (tol_names);
ref_reps = 3;
if (numel (args) >= 6)
  ref_reps = str2double (args{6});
endif

fid = fopen (csv, "w");
fprintf (fid, "matrix,nnz,operation,cpu_seconds,wall_seconds\n");
kinds = {"fro", 1, "inf"};
kind_names = {"fro", "one", "inf"};

for mi = 1:numel (names)
  A = bench_matrix (names{mi});
  nz = nnz (A);
  printf ("\n%s: %d x %d, %d stored entries (CPU ms, median of %d; the M-code of %d)\n", ...
          names{mi}, rows (A), columns (A), nz, reps, ref_reps);
  printf ("%-10s %9s %9s %7s %6s %10s %8s %6s %10s %8s %10s %10s\n", "case", "dropmost", ...
          "dropsmall", "ratio", "1.5x", "M-code", "M/drop", "10x", "M <= tol", "M/drop", ...
          "kept most", "kept small");
  for k = 1:3
    kind = kinds{k};
    for f = 1:numel (tol_factors)
      tol = tol_factors(f) * spgauge (A, kind);
      case_name = [kind_names{k} "_" tol_names{f}];
      [B, t, dropped] = dropmost (A, tol, kind);
      C = dropsmall (A, tol, kind, 0);
      [c1, w1] = median_time (@() dropmost (A, tol, kind), reps);
      [c2, w2] = median_time (@() dropsmall (A, tol, kind, 0), reps);
      cpu = zeros (1, 2);
      wall = zeros (1, 2);
      for only_small = [false, true]
        [cpu(1 + only_small), wall(1 + only_small), R, tr, droppedr] = ...
          time_sort_bisect (A, tol, kind, only_small, ref_reps);
        if (t != tr || dropped != droppedr || ! isequal (B, R))
          error ("%s %s: dropmost gives threshold %.17g (dropped %.17g), the M-code %.17g (%.17g)", ...
                 names{mi}, case_name, t, dropped, tr, droppedr);
        endif
      endfor
      c3 = cpu(1);
      w3 = wall(1);
      c4 = cpu(2);
      w4 = wall(2);
      add_row (fid, names{mi}, nz, ["dropmost_" case_name], c1, w1);
      add_row (fid, names{mi}, nz, ["dropsmall_" case_name "_cold"], c2, w2);
      add_row (fid, names{mi}, nz, ["sortbisect_" case_name], c3, w3);
      add_row (fid, names{mi}, nz, ["sortbisect_small_" case_name], c4, w4);
      printf ("%-10s %9.2f %9.2f %7.3f %6s %10.1f %8.1f %6s %10.1f %8.1f %10d %10d\n", ...
              case_name, 1e3 * c1, 1e3 * c2, c1 / c2, met_or_missed (c1 <= 1.5 * c2), 1e3 * c3, ...
              c3 / c1, met_or_missed (c3 >= 10 * c1), 1e3 * c4, c4 / c1, nnz (B), nnz (C));
      fflush (stdout);
    endfor
  endfor
  clear A B C R;
endfor
fclose (fid);
