## [A, tol, kind, ratio] = search_families (family, n, kind)
##
## The matrices that drive dropsmall's threshold search to its worst cases, with the arguments
## that do it: call dropsmall (A, tol, kind, ratio). FAMILY is "idle", "quadratic", "rowcount"
## or "random"; N the number of stored entries; KIND 1 for the 1-norm or "inf" for the infinity
## norm (the 1-norm matrix transposed, or for "rowcount" one with many empty rows). Built as
## tests/support/search_families.h builds them, with the same bits; the random matrix alone
## comes from Octave's generator (same shape and value distribution, other values).
##
##   idle       4 x (n-3): column 1 holds four entries 0.25 + 3*2^-54 (sum three ulps above
##              tol = 1), column j+1 one entry 0.5*(1 - (j-1)*1e-8) in row 1; ratio 2.
##   quadratic  4 x (n-3): column 1 holds four entries v = (1 + 2^-22)/4 (sum S), column j+1 one
##              entry at the threshold T(j) the search reaches: T(1) = 1/ratio,
##              T(j+1) = 1 / (S / T(j)); the ratio puts v between the last two thresholds.
##   rowcount   groups of 8 entries share a row ("inf": 1000 rows per entry) or a column (1: 10
##              columns per entry), all other rows or columns empty; tol 2, cold start.
##   random     sprand-like, square, density 0.1; tol 1e-1 of the norm, cold start.

function [A, tol, kind, ratio] = search_families (family, n, kind)
  inf_kind = ischar (kind);
  switch (family)
    case "idle"
      c = 0.25 + 3 * 2^-54;
      R = n - 4;
      t = 0.5 * (1 - (0:R-1)' * 1e-8);
      A = sparse ([(1:4)'; ones(R, 1)], [ones(4, 1); (2:R+1)'], [c * ones(4, 1); t], 4, R + 1);
      tol = 1;
      ratio = 2;
    case "quadratic"
      [A, tol, ratio] = quadratic_matrix (n);
    case "rowcount"
      A = row_count_matrix (n, inf_kind);
      tol = 2;
      ratio = 0;
    case "random"
      A = random_matrix (n);
      if (inf_kind)
        tol = 1e-1 * norm (A, Inf);
      else
        tol = 1e-1 * norm (A, 1);
      endif
      ratio = 0;
    otherwise
      error ("search_families: unknown family '%s'", family);
  endswitch
  if (inf_kind && any (strcmp (family, {"idle", "quadratic"})))
    A = A.';
  endif
endfunction

function [A, tol, ratio] = quadratic_matrix (n)
  k = 4;
  tol = 1;
  v = (1 + 2^-22) / k;
  S = 0;
  for i = 1:k
    S = S + v;                  # storage order, as the column sum is formed
  endfor
  m = n - k;
  ## S^m by binary powering, the same multiplications as the C++ generator.
  p = 1;
  b = S;
  e = m;
  while (e > 0)
    if (mod (e, 2) == 1)
      p = p * b;
    endif
    b = b * b;
    e = floor (e / 2);
  endwhile
  ratio = tol / (v * p / sqrt (S));
  T = zeros (m, 1);
  T(1) = tol / ratio;
  for i = 2:m
    T(i) = tol / (S / T(i-1));  # two divisions in this order, as a round computes them
  endfor
  A = sparse ([(1:k)'; ones(m, 1)], [ones(k, 1); (2:m+1)'], [v * ones(k, 1); T], k, m + 1);
endfunction

function A = row_count_matrix (n, inf_kind)
  g = 8;
  if (inf_kind)
    spread = 1000;
  else
    spread = 10;
  endif
  step = spread * g;
  e = (0:n-1)';
  h = mod (e * 2654435761, 2^32);          # exact: below 2^53 for n up to 3e6
  x = pow2 (1 + mod (h, 16) / 16, -mod (floor (h / 16), 20));
  neg = mod (floor (h / 512), 2) == 1;
  x(neg) = -x(neg);
  ngroups = ceil (n / g);
  at = floor (e / g) * step + 1;            # the group's row or column
  member = mod (e, g) + 1;
  if (inf_kind)
    A = sparse (at, member, x, ngroups * step, g);
  else
    A = sparse (member, at, x, g, ngroups * step);
  endif
endfunction

function A = random_matrix (n)
  density = 0.1;
  side = round (sqrt (n / density));
  rand ("state", 10);
  A = sprand (side, side, density);
  [i, j] = find (A);
  m = numel (i);
  sgn = 2 * (rand (m, 1) < 0.5) - 1;
  x = sgn .* pow2 (rand (m, 1), randi ([-10, 9], m, 1));
  A = sparse (i, j, x, side, side);
endfunction
