## A = bench_matrix (NAME): the benchmarks' matrices in GNU Octave, by name: M1, M2, M3, M3T,
## M4, M5 (the matrix set of the C++ benchmarks) and the graph Laplacians GL, GLW and GLS.
## M1 to M5 are drawn with Octave's own generators from fixed states: the C++ benchmarks'
## shapes and value distributions, not the same bits. Shared by the Octave benchmark scripts
## (each puts bench/ on its path).

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

## per_col distinct rows in every column: per_col draws from 0 .. nrows - per_col sorted, the
## r-th raised by r - 1 (as the C++ benchmarks build M4 and M5). Normal values.
function A = fixed_column_length (nrows, ncols, per_col, seed)
  rand ("state", seed);
  randn ("state", seed);
  i = sort (floor (rand (per_col, ncols) * (nrows - per_col + 1)), 1) + (1:per_col)';
  j = repmat (1:ncols, per_col, 1);
  A = sparse (i(:), j(:), randn (per_col * ncols, 1), nrows, ncols);
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
