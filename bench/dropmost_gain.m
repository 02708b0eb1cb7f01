## What dropmost buys: the stored entries it drops beside a cold dropsmall call (ratio 0) and a
## warm one (the ratio the cold call returned, passed back in) with the same tol and kind, for
## tol = 1e-8, 1e-7, ..., 1e-1 of the kind's norm, on three matrices. Counts only, no timing;
## prints Markdown tables.
##
##   octave-cli --norc --no-history bench/dropmost_gain.m EXTDIR [MATRICES]
##
## EXTDIR holds spgauge.mex, dropsmall.mex and dropmost.mex (build/octave); MATRICES is a
## comma-separated subset of GLW,FE,DEC15 (all by default):
##   GLW    the weighted graph Laplacian L = D - W of bench_matrix.m: a random graph of 200,000
##          nodes and 1e6 random edges (rand and randn states 6), weights exp(2 randn);
##          about 2.2e6 stored entries
##   FE     bilinear finite elements for -div(K grad u), K = diag(1, 1e-4), on the unit square:
##          200 x 200 elements whose widths and heights grow by 3% from one side to the other
##          (largest over smallest 360), no boundary conditions imposed; 40,401 nodes, about
##          360,000 stored entries
##   DEC15  1e5 x 1e5, 1e6 entries at uniformly drawn positions (coinciding ones summed),
##          magnitudes 10^u with u uniform in (-15, 0), random signs (rand state 15)
## Each row: entries dropped by each call, and the norm of the part it dropped as a share of tol.

1;

## Bilinear elements on an n x n grid of rectangles with widths hx and heights hy (n each):
## kx * (hy / hx) * Kx + ky * (hx / hy) * Ky on each element, nodes numbered row by row.
function A = anisotropic_fe (hx, hy, kx, ky)
  n = numel (hx);
  Kx = [2 -2 -1 1; -2 2 1 -1; -1 1 2 -2; 1 -1 -2 2] / 6;
  Ky = [2 1 -1 -2; 1 2 -2 -1; -1 -2 2 1; -2 -1 1 2] / 6;
  [ex, ey] = ndgrid (1:n, 1:n);
  ex = ex(:);
  ey = ey(:);
  node = @(x, y) x + (n + 1) * (y - 1);
  corners = [node(ex, ey), node(ex + 1, ey), node(ex + 1, ey + 1), node(ex, ey + 1)];
  a = kx * hy(ey)(:) ./ hx(ex)(:);
  b = ky * hx(ex)(:) ./ hy(ey)(:);
  [p, q] = ndgrid (1:4, 1:4);
  I = corners(:, p(:));
  J = corners(:, q(:));
  V = a * Kx(:)' + b * Ky(:)';
  N = (n + 1) ^ 2;
  A = sparse (I(:), J(:), V(:), N, N);
endfunction

function A = gain_matrix (name)
  switch (name)
    case "GLW"
      A = bench_matrix ("GLW");
    case "FE"
      h = 1.03 .^ (0:199);
      h = h / sum (h);
      A = anisotropic_fe (h, h, 1, 1e-4);
    case "DEC15"
      rand ("state", 15);
      n = 1e5;
      m = 1e6;
      i = floor (rand (m, 1) * n) + 1;
      j = floor (rand (m, 1) * n) + 1;
      v = 10 .^ (-15 * rand (m, 1)) .* sign (rand (m, 1) - 0.5);
      A = sparse (i, j, v, n, n);
  endswitch
endfunction

## Entries dropped by B, and the norm of the dropped part over tol.
function [n, share] = dropped_of (A, B, tol, kind)
  n = nnz (A) - nnz (B);
  share = spgauge (A - B, kind) / tol;
endfunction

args = argv ();
if (numel (args) < 1)
  error ("usage: octave-cli --norc --no-history dropmost_gain.m EXTDIR [MATRICES]");
endif
addpath (args{1});
addpath (fileparts (mfilename ("fullpath")));   # bench_matrix.m
names = {"GLW", "FE", "DEC15"};
if (numel (args) >= 2)
  names = strsplit (args{2}, ",");
endif
kinds = {1, "inf", "fro"};
kind_names = {"`1`", "`'inf'`", "`'fro'`"};
tol_exponents = -8:-1;

for mi = 1:numel (names)
  A = gain_matrix (names{mi});
  [~, ~, v] = find (A);
  m = abs (v);
  printf ("\n### %s: %d x %d, %d stored entries, magnitudes %.3g to %.3g\n\n", names{mi}, ...
          rows (A), columns (A), nnz (A), min (m), max (m));
  printf ("| kind | tol / norm | dropmost | cold dropsmall | warm dropsmall | dropmost / cold | ");
  printf ("share of tol used: dropmost, cold, warm |\n");
  printf ("|---|---:|---:|---:|---:|---:|---|\n");
  for k = 1:3
    kind = kinds{k};
    for e = tol_exponents
      tol = 10 ^ e * spgauge (A, kind);
      [B, t, dropped] = dropmost (A, tol, kind);
      [C, ratio] = dropsmall (A, tol, kind, 0);
      W = dropsmall (A, tol, kind, ratio);
      [nb, sb] = dropped_of (A, B, tol, kind);
      [nc, sc] = dropped_of (A, C, tol, kind);
      [nw, sw] = dropped_of (A, W, tol, kind);
      if (sb != dropped / tol)
        error ("%s: dropmost's dropped norm %.17g, the dropped part's %.17g", names{mi}, ...
               dropped, sb * tol);
      endif
      gain = "-";
      if (nc > 0)
        gain = sprintf ("%.2f", nb / nc);
      endif
      printf ("| %s | 1e%d | %d | %d | %d | %s | %.3f, %.3f, %.3f |\n", kind_names{k}, e, ...
              nb, nc, nw, gain, sb, sc, sw);
      fflush (stdout);
    endfor
  endfor
  clear A B C W;
endfor
