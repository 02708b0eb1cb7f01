## octave_package_test (archive, workdir, exports_check, names...): installs the package ARCHIVE
## with pkg into WORKDIR alone (its own prefixes and package lists, so nothing global changes),
## loads it, checks the named functions and their help, runs each function's tests and demos
## from the installed files (test NAME, demo NAME), checks that lookfor lists each function once,
## runs EXPORTS_CHECK on each installed MEX file, checks the NEWS file, then unloads and
## uninstalls it. Fails with an error on any difference.
function octave_package_test (archive, workdir, exports_check, varargin)
  names = varargin;
  confirm_recursive_rmdir (false);
  if (isfolder (workdir))
    rmdir (workdir, "s");
  endif
  prefix = fullfile (workdir, "share");
  archprefix = fullfile (workdir, "lib");
  mkdir (prefix);
  mkdir (archprefix);
  pkg ("prefix", prefix, archprefix);
  pkg ("local_list", fullfile (workdir, "octave_packages"));
  pkg ("global_list", fullfile (workdir, "octave_packages_global"));

  pkg ("install", "-local", archive);
  installed = pkg ("list");
  if (numel (installed) != 1)
    error ("pkg list shows %d packages after the install, expected 1", numel (installed));
  endif
  desc = installed{1};
  printf ("installed %s %s in %s\n", desc.name, desc.version, desc.dir);

  pkg ("load", desc.name);
  archdir = fileparts (which (names{1}));
  if (! strncmp (archdir, archprefix, numel (archprefix)))
    error ("%s was not loaded from the package's folder under %s", names{1}, archprefix);
  endif
  check_extensions (archdir, names);
  for k = 1:numel (names)
    run_installed_tests (names{k}, desc.dir, archprefix);
    run_installed_demos (names{k});
    check_listed_once (names{k});
  endfor
  if (! isfile (fullfile (desc.dir, "packinfo", "NEWS")))
    error ("the installed package has no NEWS file");
  endif
  for k = 1:numel (names)
    file = fullfile (archdir, [names{k} "." mexext()]);
    if (system (sprintf ("sh '%s' '%s'", exports_check, file)) != 0)
      error ("%s exports more than mexFunction", file);
    endif
  endfor

  pkg ("unload", desc.name);
  if (! isempty (which (names{1})))
    error ("%s is still found after pkg unload", names{1});
  endif
  pkg ("uninstall", "-local", desc.name);
  if (! isempty (pkg ("list")) || isfolder (desc.dir) || isfolder (archdir))
    error ("pkg uninstall left the package behind");
  endif
  rmdir (workdir, "s");
  printf ("package %s: installed, loaded, ran and uninstalled\n", desc.name);
endfunction

## Runs "test NAME" and fails unless it found the tests in the installed package and all passed.
function run_installed_tests (name, sharedir, archdir)
  file = file_in_loadpath ([name ".m"]);
  if (! (strncmp (file, sharedir, numel (sharedir)) || strncmp (file, archdir, numel (archdir))))
    error ("test %s would read '%s', not the installed package", name, file);
  endif
  [passed, total] = test (name, "quiet", stdout);
  printf ("test %s: %d of %d passed, from %s\n", name, passed, total, file);
  if (total == 0 || passed != total)
    error ("test %s: %d of %d passed", name, passed, total);
  endif
endfunction

## Runs every demo block of NAME as "demo NAME K" does, and fails when there is none or when one
## fails: demo itself only prints the failure.
function run_installed_demos (name)
  [~, idx] = test (name, "grabdemo");
  if (numel (idx) < 2)
    error ("demo %s: no demo found", name);
  endif
  for k = 1:numel (idx) - 1
    out = evalc (sprintf ("demo ('%s', %d)", name, k));
    if (! isempty (strfind (out, sprintf ("%s example %d: failed", name, k))))
      error ("demo %s %d failed:\n%s", name, k, out);
    endif
  endfor
  printf ("demo %s: %d demos ran\n", name, numel (idx) - 1);
endfunction

## Fails unless lookfor, given the first sentence of NAME's help, lists NAME exactly once: a help
## file installed in two folders of the path would be listed twice.
function check_listed_once (name)
  sentence = get_first_help_sentence (name, 1024);
  found = lookfor (sentence);
  times = sum (strcmp (found, name));
  if (times != 1)
    error ("lookfor '%s' lists %s %d times", sentence, name, times);
  endif
endfunction
