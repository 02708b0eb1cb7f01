## check_extensions (folder, names): fails unless each named extension (spgauge, dropsmall,
## dropmost)
## is the MEX file in FOLDER that Octave finds first, gives the known results on a small matrix,
## raises its first documented error, and has its help text.
function check_extensions (folder, names)
  A = sparse ([1 0 -2; 0 3 0; 4 0 5]);
  for k = 1:numel (names)
    name = names{k};
    found = which (name);
    expected = fullfile (folder, [name "." mexext()]);
    if (! strcmp (canonicalize_file_name (found), canonicalize_file_name (expected)))
      error ("%s resolves to '%s', not to '%s'", name, found, expected);
    endif
    switch (name)
      case "spgauge"
        check_equal ("spgauge (A, 1)", spgauge (A, 1), 7);
        check_equal ("spgauge (A, 'inf')", spgauge (A, "inf"), 9);
        check_equal ("spgauge (A, 'fro')", spgauge (A, "fro"), sqrt (55));
        check_error ("spgauge (full (A), 1)", "spgauge: Input must be a sparse matrix.");
        check_help (name, "SPGAUGE  1-, infinity- or Frobenius norm");
      case "dropsmall"
        ## tol / 1 = 1.5 drops the entry 1 alone: its norm, 1, is within tol.
        [B, ratio] = dropsmall (A, 1.5, "fro", 0);
        check_equal ("dropsmall (A, 1.5, 'fro', 0)", B, sparse ([0 0 -2; 0 3 0; 4 0 5]));
        if (! (isscalar (ratio) && ratio > 0 && norm (A - B, "fro") <= 1.5))
          error ("dropsmall: ratio %g or the dropped norm is wrong", ratio);
        endif
        check_error ("dropsmall (A, -1, 1, 0)", "dropsmall: Tolerance must be a nonnegative number.");
        check_help (name, "DROPSMALL  Drop the small entries of a sparse matrix");
      case "dropmost"
        ## 1 and 2 fit 'fro' within 2.5 (sqrt(5)); 3 as well would not.
        [B, t, d] = dropmost (A, 2.5, "fro");
        check_equal ("dropmost (A, 2.5, 'fro')", B, sparse ([0 0 0; 0 3 0; 4 0 5]));
        check_equal ("its threshold and dropped norm", [t, d], [2, sqrt(5)]);
        check_error ("dropmost (A, -1, 1)", "dropmost: Tolerance must be a nonnegative number.");
        check_help (name, "DROPMOST  Drop as many small entries of a sparse matrix");
      otherwise
        error ("no check for '%s'", name);
    endswitch
    printf ("%s: %s works\n", name, found);
  endfor
endfunction

function check_equal (what, got, expected)
  if (! isequal (got, expected) || ! strcmp (class (got), class (expected))
      || issparse (got) != issparse (expected))
    error ("%s gave %s, expected %s", what, disp (got), disp (expected));
  endif
endfunction

function check_error (code, message)
  try
    evalin ("caller", [code ";"]);
  catch err
    if (! strncmp (err.message, message, numel (message)))
      error ("%s raised '%s', expected '%s'", code, err.message, message);
    endif
    return;
  end_try_catch
  error ("%s raised no error", code);
endfunction

function check_help (name, first_line)
  text = evalc (sprintf ("help %s", name));
  if (isempty (strfind (text, first_line)))
    error ("help %s does not show '%s'; it shows:\n%s", name, first_line, text);
  endif
endfunction
