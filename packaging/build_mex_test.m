## build_mex_test (root, outdir, exports_check, names...): runs ROOT/build_mex.m unchanged into
## OUTDIR for the named extensions, given as ~/ and OUTDIR's last folder with HOME set to its
## parent, then checks the built files, their help and exports, and calls them. Fails with an
## error on any difference.
function build_mex_test (root, outdir, exports_check, varargin)
  names = varargin;
  confirm_recursive_rmdir (false);
  if (isfolder (outdir))
    rmdir (outdir, "s");
  endif
  addpath (root);
  [parent, leaf] = fileparts (outdir);
  home = getenv ("HOME");
  setenv ("HOME", parent);
  unwind_protect
    built = build_mex (["~/" leaf], names{:});
  unwind_protect_cleanup
    setenv ("HOME", home);
  end_unwind_protect
  if (! strcmp (built, outdir) || isfolder (fullfile (pwd, "~")))
    error ("build_mex returned '%s' for '~/%s' with HOME at '%s', expected '%s'", built, ...
           leaf, parent, outdir);
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
