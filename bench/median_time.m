## [CPU, WALL] = median_time (F, REPS): one warm-up call of F, then the medians of REPS calls'
## CPU seconds of this process (other programs on the machine do not count) and wall-clock
## seconds. Shared by the Octave benchmark scripts (each puts bench/ on its path).

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
