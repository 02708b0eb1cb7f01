function outdir = build_mex(outdir, varargin)
%BUILD_MEX  Build the spgauge, dropsmall and dropmost MEX extensions from this source tree.
%
%   BUILD_MEX builds spgauge, dropsmall and dropmost with the host's own mex command
%   into the folder build/mex of the source tree, and copies their help files beside
%   them. It can be called from any folder; afterwards put the folder on the path:
%
%       addpath(build_mex)
%
%   BUILD_MEX(OUTDIR) builds into OUTDIR instead (created when missing; a leading ~ stands
%   for your home folder).
%   BUILD_MEX(OUTDIR, NAME, ...) builds only the named extensions ('spgauge', 'dropsmall',
%   'dropmost'); an empty OUTDIR stands for build/mex.
%   OUTDIR = BUILD_MEX(...) returns the absolute folder that holds the built files.
%
%   MATLAB: R2018a or later, whose mex takes -R2017b (the 64-bit API: 64-bit sizes, row
%   indices and column pointers); C++17, no fused multiply-add. Needs a supported C++
%   compiler, chosen with "mex -setup C++". The files are .mexa64 (Linux), .mexmaci64 or
%   .mexmaca64 (macOS) and .mexw64 (Windows).
%   GNU Octave: mex wraps "mkoctfile --mex", which needs the Octave development files
%   (Debian and Ubuntu: octave-dev, liboctave-dev on older releases). The files are .mex.
%
%   See also MEX, ADDPATH.

root = fileparts(mfilename('fullpath'));
if nargin < 1 || isempty(outdir)
  outdir = fullfile(root, 'build', 'mex');
end
outdir = absolute_path(outdir);
names = varargin;
if isempty(names)
  names = {'spgauge', 'dropsmall', 'dropmost'};
end
if ~exist(outdir, 'dir')
  [ok, msg] = mkdir(outdir);
  if ~ok
    error('build_mex:outdir', 'Cannot create the folder %s: %s', outdir, msg);
  end
end

for k = 1:numel(names)
  [sources, includes] = sources_of(root, names{k});
  if is_octave()
    build_with_octave(names{k}, sources, includes, root, outdir);
  else
    build_with_matlab(names{k}, sources, includes, outdir);
  end
  copyfile(fullfile(root, names{k}, [names{k} '.m']), outdir);
end
fprintf('Built %s in %s\nUse them with: addpath(''%s'')\n', strjoin(names, ' and '), ...
        outdir, outdir);
end

% The sources and include folders of one extension: every C++ file of its folder and of the
% shared folder, which goes into both.
function [sources, includes] = sources_of(root, name)
if ~any(strcmp(name, {'spgauge', 'dropsmall', 'dropmost'}))
  error('build_mex:name', ...
        'Unknown extension ''%s'': the names are spgauge, dropsmall and dropmost.', name);
end
folders = {name, 'common'};
if ~strcmp(name, 'spgauge')
  folders{end+1} = 'sparsify';  % shared by the extensions that drop entries
end
sources = {};
for folder = folders
  found = dir(fullfile(root, folder{1}, '*.cpp'));
  sources = [sources, cellfun(@(f) fullfile(root, folder{1}, f), {found.name}, ...
                              'UniformOutput', false)];
end
includes = cellfun(@(f) ['-I' fullfile(root, f)], folders, 'UniformOutput', false);
end

% MATLAB's mex with the 64-bit API. The compiler flags keep C++17 and every floating-point
% operation rounded on its own (a fused multiply-add would change results).
function build_with_matlab(name, sources, includes, outdir)
cc = mex.getCompilerConfigurations('C++', 'Selected');
if isempty(cc)
  error('build_mex:compiler', ...
        'No C++ compiler is set up for mex: run "mex -setup C++" (see "Supported compilers").');
end
if ispc && strncmpi(cc.ShortName, 'MSVC', 4)
  % /fp:precise keeps the source's order and rounding; Visual C++ 2022 and later also form no
  % fused multiply-add under it (earlier versions may, in code built for FMA, /arch:AVX2).
  flags = {'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
else
  flags = {'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math'};
end
mex('-R2017b', flags{:}, includes{:}, sources{:}, '-outdir', outdir, '-output', name);
end

% Octave's mex is "mkoctfile --mex": it takes the compiler flags from the environment, and
% object files go to a temporary folder. On GNU/Linux the version script keeps mexFunction the
% only export.
function build_with_octave(name, sources, includes, root, outdir)
old_flags = getenv('CXXFLAGS');
restore = onCleanup(@() setenv('CXXFLAGS', old_flags));
setenv('CXXFLAGS', [strtrim(mkoctfile('-p', 'CXXFLAGS')) ...
                    ' -std=c++17 -ffp-contract=off -fno-fast-math -fvisibility=hidden']);
link = {};
if isunix && ~ismac
  link = {['-Wl,--version-script=' fullfile(root, 'cmake', 'mexfunction.map')]};
end
mex(includes{:}, link{:}, sources{:}, '-o', fullfile(outdir, [name '.' mexext]));
end

function yes = is_octave()
yes = exist('OCTAVE_VERSION', 'builtin') ~= 0;
end

% A folder as given, with ~ (alone or before a separator) standing for the home folder, and a
% relative folder taken from the current one.
function p = absolute_path(p)
if strcmp(p, '~') || strncmp(p, '~/', 2) || strncmp(p, '~\', 2)
  p = [home_folder() p(2:end)];
end
if ~(strncmp(p, '/', 1) || strncmp(p, '\', 1) || ~isempty(regexp(p, '^[A-Za-z]:', 'once')))
  p = fullfile(pwd, p);
end
end

function home = home_folder()
home = getenv('HOME');
if isempty(home)
  home = getenv('USERPROFILE');
end
if isempty(home)
  error('build_mex:outdir', 'Cannot expand ~: neither HOME nor USERPROFILE is set.');
end
end
