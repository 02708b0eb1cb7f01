## Times dropsmall in GNU Octave on the matrices that drive its threshold search to its worst
## cases (bench/search_families.m), each beside a random matrix of the same size and kind; then
## spgauge (x, 'inf') and dropsmall (x, 1.5, 'inf', 0) of a tall sparse vector x with two entries:
## their time and the resident memory they add to this process at their peak. One process;
## times are the median of REPS calls in CPU seconds of this process, wall-clock beside them.
##
##   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=131072:glibc.malloc.trim_threshold=131072 \
##   octave-cli --no-history --norc bench/octave_families.m EXTDIR [sizes=1e4,1e5,1e6] [reps=5]
##              [rows=1e7] [skip_slow] [csv=FILE] [families]
##
## EXTDIR holds spgauge.mex and dropsmall.mex (build/octave). sizes: stored entries, comma-
## separated. reps: calls per case; a case whose first call takes over 2 s is called once.
## rows: rows of the tall vector (1e9 only when asked: 16 s and 8 GB of the process's memory
## before the rework). skip_slow leaves out what search_bench leaves out under
## SEARCH_BENCH_SKIP_SLOW (cases that took over ~30 s before the rework). csv: one line per case.
## families: prints each family's shape and sums as search_bench --families does, and stops.
##
## Memory: writing 5 to /proc/self/clear_refs resets the kernel's resident high-water mark
## (VmHWM in /proc/self/status) to the current resident set; after the call, VmHWM minus the
## resident set (VmRSS) before it is the most memory the call touched at once, the host's
## allocations included, whatever it released before returning. The allocator must not hand the
## call pages an earlier one left resident: GLIBC_TUNABLES above gives every block of 128 KiB or
## more its own mapping, returned to the system when freed (without it, a block freed by one
## call and reused by the next does not show).

1;

function opts = parse_args (args)
  if (numel (args) < 1)
    error ("usage: octave-cli --no-history --norc octave_families.m EXTDIR [sizes=...] [reps=N] [rows=N] [skip_slow] [csv=FILE] [families]");
  endif
  opts = struct ("extdir", args{1}, "sizes", [1e4, 1e5, 1e6], "reps", 5, "rows", 1e7,
                 "skip_slow", false, "csv", "", "families", false);
  for i = 2:numel (args)
    kv = strsplit (args{i}, "=");
    switch (kv{1})
      case "sizes"
        opts.sizes = str2double (strsplit (kv{2}, ","));
      case "reps"
        opts.reps = str2double (kv{2});
      case "rows"
        opts.rows = str2double (kv{2});
      case "skip_slow"
        opts.skip_slow = true;
      case "csv"
        opts.csv = kv{2};
      case "families"
        opts.families = true;
      otherwise
        error ("octave_families: unknown argument '%s'", args{i});
    endswitch
  endfor
endfunction

## As slow_before_rework in search_bench.cpp.
function slow = slow_before_rework (family, inf_kind, n)
  switch (family)
    case "idle"
      slow = n > 2000;
    case "quadratic"
      slow = n > 50000;
    case "rowcount"
      slow = inf_kind && n > 200000;
    otherwise
      slow = false;
  endswitch
endfunction

function [cpu, wall] = median_time (f, reps)
  c = zeros (reps, 1);
  w = zeros (reps, 1);
  for r = 1:reps
    w0 = tic ();
    c0 = cputime ();
    f ();
    c(r) = cputime () - c0;
    w(r) = toc (w0);
    if (r == 1 && w(1) > 2)
      c = c(1);
      w = w(1);
      break;
    endif
  endfor
  cpu = median (c);
  wall = median (w);
endfunction

function kib = status_kib (field)
  s = fileread ("/proc/self/status");
  tok = regexp (s, [field ":\\s*(\\d+) kB"], "tokens", "once");
  kib = str2double (tok{1});
endfunction

function reset_peak ()
  fid = fopen ("/proc/self/clear_refs", "w");
  fputs (fid, "5");
  fclose (fid);
endfunction

## CPU and wall seconds of one call, and the resident memory (KiB) it added at its peak.
function [cpu, wall, kib] = measured_call (f)
  before = status_kib ("VmRSS");
  reset_peak ();
  w0 = tic ();
  c0 = cputime ();
  f ();
  cpu = cputime () - c0;
  wall = toc (w0);
  kib = status_kib ("VmHWM") - before;
endfunction

function print_fingerprints (opts)
  kinds = {1, "inf"};
  kind_names = {"one", "inf"};
  for n = opts.sizes
    for k = 1:2
      for family = {"idle", "quadratic", "rowcount"}
        [A, tol, ~, ratio] = search_families (family{1}, n, kinds{k});
        [i, j, v] = find (A);
        printf ("%s/%s/%d %d %d %d %s %s %s %s %s\n", family{1}, kind_names{k}, n, rows (A),
                columns (A), nnz (A), num2hex (tol), num2hex (ratio), num2hex (sum (v)),
                num2hex (sum (v .* i)), num2hex (sum (v .* j)));
      endfor
    endfor
  endfor
endfunction

function time_families (opts, fid)
  kinds = {1, "inf"};
  kind_names = {"one", "inf"};
  printf ("%-24s %10s %10s %12s %10s %9s %12s\n", "dropsmall", "nnz", "CPU ms", "ns/entry",
          "vs random", "kept", "ratio out");
  for n = opts.sizes
    for k = 1:2
      reference = NaN;
      for family = {"random", "idle", "quadratic", "rowcount"}
        name = sprintf ("%s/%s/%d", family{1}, kind_names{k}, n);
        if (opts.skip_slow && slow_before_rework (family{1}, k == 2, n))
          printf ("%-24s skipped (skip_slow)\n", name);
          continue;
        endif
        [A, tol, kind, ratio] = search_families (family{1}, n, kinds{k});
        nz = nnz (A);
        [cpu, wall] = median_time (@() dropsmall (A, tol, kind, ratio), opts.reps);
        [B, ratio_out] = dropsmall (A, tol, kind, ratio);
        ns = 1e9 * cpu / nz;
        if (strcmp (family{1}, "random"))
          reference = ns;
        endif
        printf ("%-24s %10d %10.2f %12.1f %10.3g %9d %12.6g\n", name, nz, 1e3 * cpu, ns,
                ns / reference, nnz (B), ratio_out);
        if (fid >= 0)
          fprintf (fid, "dropsmall/%s,%d,%.6g,%.6g,%.6g,\n", name, nz, cpu, wall, ns);
        endif
        clear A B;
      endfor
    endfor
  endfor
endfunction

function time_tall_vector (opts, fid)
  m = opts.rows;
  x = sparse ([1; m], [1; 1], [1; 2], m, 1);
  calls = {"spgauge (x, 'inf')", @() spgauge (x, "inf");
           "dropsmall (x, 1.5, 'inf', 0)", @() dropsmall (x, 1.5, "inf", 0)};
  if (m <= 1e7)
    calls(end+1, :) = {"norm (x, Inf)", @() norm (x, Inf)};   # Octave's own, for scale
  endif
  printf ("\nx = sparse %d-by-1 with 2 entries (CPU and wall ms: median of %d; memory: most added)\n",
          m, opts.reps);
  printf ("%-30s %10s %10s %14s\n", "call", "CPU ms", "wall ms", "peak RSS + MiB");
  for c = 1:rows (calls)
    cpu = zeros (opts.reps, 1);
    wall = zeros (opts.reps, 1);
    kib = zeros (opts.reps, 1);
    for r = 1:opts.reps
      [cpu(r), wall(r), kib(r)] = measured_call (calls{c, 2});
    endfor
    printf ("%-30s %10.2f %10.2f %14.1f\n", calls{c, 1}, 1e3 * median (cpu), 1e3 * median (wall),
            max (kib) / 1024);
    if (fid >= 0)
      fprintf (fid, "tall/%d/%s,2,%.6g,%.6g,,%d\n", m, calls{c, 1}, median (cpu),
               median (wall), max (kib) * 1024);
    endif
  endfor
endfunction

opts = parse_args (argv ());
if (isempty (strfind (getenv ("GLIBC_TUNABLES"), "mmap_threshold")))
  printf ("(GLIBC_TUNABLES sets no mmap_threshold: memory that earlier calls left resident may be reused unseen)\n");
endif
addpath (opts.extdir);
addpath (fileparts (mfilename ("fullpath")));
if (opts.families)
  print_fingerprints (opts);
  return;
endif
fid = -1;
if (! isempty (opts.csv))
  fid = fopen (opts.csv, "w");
  fprintf (fid, "case,nnz,cpu_seconds,wall_seconds,ns_per_entry,peak_bytes\n");
endif
## Both extensions loaded before anything is timed.
spgauge (sparse (1), 1);
dropsmall (sparse (1), 0, 1, 0);
time_families (opts, fid);
time_tall_vector (opts, fid);
if (fid >= 0)
  fclose (fid);
endif
