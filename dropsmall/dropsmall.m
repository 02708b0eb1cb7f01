%DROPSMALL  Drop the small entries of a sparse matrix, keeping the norm of what is dropped within tol.
%
%   [B, RATIO] = DROPSMALL(A, TOL, KIND, RATIO)
%   B = DROPSMALL(A, TOL, KIND, RATIO)
%
%   B is a copy of the real sparse double matrix A without every stored entry whose magnitude
%   is at or below a threshold T. T is chosen so that the KIND-norm of the dropped part
%   (the matrix of the dropped entries alone) stays within TOL:
%
%       norm(A - B, KIND) <= TOL      (KIND is 1, 'inf' or 'fro')
%
%   B keeps A's size, and its entries keep their values, signs and order. Entries equal to T
%   are dropped; NaN entries are always kept; Inf entries are kept unless T is Inf.
%
%   RATIO is the starting guess of dropped norm over threshold: the search starts at
%   T = TOL / RATIO and lowers T until the bound holds. Pass 0 (read as 1) the first time;
%   the RATIO returned is the one to pass in on the next call with a similar matrix, which
%   then usually needs fewer steps (warm start):
%
%       ratio = 0;
%       for step = 1:nsteps
%         A = assemble_matrix(step);                 % a slowly changing matrix
%         [B, ratio] = dropsmall(A, 1e-6 * spgauge(A, 'fro'), 'fro', ratio);
%         ...
%       end
%
%   The threshold never goes below a floor that is safe for any values (TOL/sqrt(nnz(A)) for
%   'fro', TOL over the most entries in a column for 1, TOL/columns(A) for 'inf'); every
%   entry at or below the floor is dropped. A RATIO so large that TOL/RATIO is at or below the
%   floor, a negative RATIO, or TOL = 0 start at the floor directly. TOL = NaN or RATIO = NaN
%   drop nothing. TOL and RATIO may be of any numeric or logical class; only their first
%   element counts.
%
%   Errors, checked in this order:
%     Four inputs required.                     not exactly four inputs
%     Too many output arguments                 more than two outputs
%     Input must be a sparse matrix.            A is full
%     Input must be noncomplex double.          A is complex, logical or not double
%     Input argument must be two dimensional    A has more than two dimensions
%     Only for 1-norm, inf-norm and fro-norm.   KIND is not 1, 'inf' or 'fro'
%     Tolerance must be a nonnegative number.   TOL is empty, negative, or not a number
%     Ratio must be a number.                   RATIO is empty or not a number
%     Too many stored entries.                  A has more than 2^31-1 stored entries
%
%   Example:
%     A = gallery('poisson', 100) + 1e-9 * sprandn(10000, 10000, 1e-3);
%     B = dropsmall(A, 1e-6, 'fro', 0);
%     [nnz(A), nnz(B), norm(A - B, 'fro')]
%
%   See also SPGAUGE, NORM.
