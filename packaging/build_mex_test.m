## build_mex_test (root, outdir, exports_check, names...): runs ROOT/build_mex.m unchanged into
## OUTDIR for the named extensions, then checks the built files, their help and exports, and
## calls them. Fails with an error on any difference.
function build_mex_test (root, outdir, exports_check, varargin)
  names = varargin;
  confirm_recursive_rmdir (false);
  if (isfolder (outdir))
    rmdir (outdir, "s");
  endif
  addpath (root);
  built = build_mex (outdir, names{:});
  if (! strcmp (canonicalize_file_name (built), canonicalize_file_name (outdir)))
    error ("build_mex returned '%s', expected '%s'", built, outdir);
  endif
  for k = 1:numel (names)
    if (! isfile (fullfile (built, [names{k} ".m"])))
      error ("build_mex did not put the help file %s.m beside the extension", names{k});
    endif
    file = fullfile (built, [names{k} "." mexext()]);
    if (system (sprintf ("sh '%s' '%s'", exports_check, file)) != 0)
      error ("%s exports more than mexFunction", file);
    endif
  endfor
  addpath (built);
  check_extensions (built, names);
  rmpath (built);
  rmdir (outdir, "s");
endfunction
