%SPGAUGE  1-, infinity- or Frobenius norm of a real sparse matrix, reproducible bit for bit.
%
%   N = SPGAUGE(A, 1)      largest column sum of magnitudes, like NORM(A, 1)
%   N = SPGAUGE(A, 'inf')  largest row sum of magnitudes, like NORM(A, Inf)
%   N = SPGAUGE(A, 'fro')  square root of the sum of squares, like NORM(A, 'fro')
%
%   A must be a real (not complex) sparse double matrix with two dimensions. The norm is
%   read straight from A's compressed-sparse-column storage, without copying it. Every sum
%   is one running total taken in storage order (column by column, down each column), so
%   the same matrix always gives the same bits on any machine.
%
%   The kind is the number 1 or the text 'inf' or 'fro', exactly: 'Inf', 'FRO', '1' and
%   the number Inf are refused. For a numeric kind only its first element counts.
%
%   NaN and Inf:
%     - 'fro': a stored NaN gives NaN; otherwise a stored Inf gives Inf.
%     - 1 and 'inf': a column (row) whose sum is NaN is passed over; the result is the
%       largest of the other sums, or 0 when every column (row) holds a NaN. A column
%       (row) with an Inf and no NaN gives Inf.
%   Values near the ends of the double range (above about 1e154 or below about 1e-162)
%   are scaled, so 'fro' does not overflow to Inf or underflow to 0 when the norm itself
%   is representable. An empty matrix, or one without stored entries, has norm 0.
%
%   Errors, checked in this order:
%     Two inputs required.                      not exactly two inputs
%     Too many output arguments                 more than one output
%     Input must be a sparse matrix.            A is full
%     Input must be noncomplex double.          A is complex, logical or not double
%     Input argument must be two dimensional    A has more than two dimensions
%     Only for 1-norm, inf-norm and fro-norm.   any other kind
%
%   Example:
%     A = gallery('poisson', 100);              % 2-D Laplacian, 10000-by-10000
%     [spgauge(A, 1), spgauge(A, 'inf'), spgauge(A, 'fro')]
%
%   See also NORM, DROPSMALL.
