#!/bin/sh
# check_interface.sh elf|pe NAME FILE: fails unless the MEX file FILE of the deliverable NAME
# (spgauge, dropsmall or dropmost) meets the host exactly as a MATLAB binary must:
#   elf (.mexa64, read with nm and objdump): an x86-64 ELF file whose only defined dynamic
#       symbol is mexFunction; the undefined symbols that no versioned system library provides
#       are exactly NAME's host operations; the needed libraries are MATLAB's libmx.so and
#       libmex.so and glibc's libc.so.6 and libm.so.6, nothing else (no libstdc++, no stand-in,
#       no Octave), and the only symbol version it needs is GLIBC_2.2.5, so it loads with any
#       x86-64 glibc.
#   pe (.mexw64, read with x86_64-w64-mingw32-objdump -p): an x86-64 PE32+ file whose only
#       export is mexFunction; the imports from libmx.dll and libmex.dll are exactly NAME's host
#       operations, by name; every other DLL is a Windows system DLL (no MinGW runtime DLL).
# NM and OBJDUMP name the tools (defaults: nm, objdump; x86_64-w64-mingw32-objdump for pe).
set -eu
format=$1 name=$2 file=$3

# The host operations each deliverable uses, by the names a binary built with MATLAB's 64-bit
# API (-R2017b) imports: the _730 entry points where MATLAB has one. The mex* ones are libmex's,
# the rest libmx's.
case $name in
spgauge)
  libmex="mexCallMATLAB
mexErrMsgIdAndTxt"
  libmx="mxCalloc
mxCreateDoubleMatrix_730
mxDestroyArray
mxFree
mxGetClassID
mxGetData
mxGetIr_730
mxGetJc_730
mxGetM
mxGetN
mxGetNumberOfDimensions_730
mxGetNumberOfElements
mxGetPr
mxGetString_730
mxIsChar
mxIsClass
mxIsComplex
mxIsDouble
mxIsLogical
mxIsNumeric
mxIsSparse" ;;
dropsmall|dropmost)
  libmex="mexCallMATLAB
mexErrMsgIdAndTxt"
  libmx="mxCalloc
mxCreateDoubleMatrix_730
mxCreateSparse_730
mxDestroyArray
mxFree
mxGetClassID
mxGetData
mxGetIr_730
mxGetJc_730
mxGetM
mxGetN
mxGetNumberOfDimensions_730
mxGetNumberOfElements
mxGetPr
mxGetString_730
mxIsChar
mxIsClass
mxIsComplex
mxIsDouble
mxIsLogical
mxIsNumeric
mxIsSparse
mxRealloc
mxSetIr_730
mxSetNzmax_730
mxSetPr" ;;
*) echo "unknown deliverable: $name" >&2; exit 2 ;;
esac

status=0
# same WHAT GOT EXPECTED: reports and records a difference between two sorted lists.
same() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    printf '%s\n' "$2" | sed '/^$/d' > "$tmp/got"
    printf '%s\n' "$3" | sed '/^$/d' > "$tmp/expected"
    diff "$tmp/expected" "$tmp/got" | sed -n 's/^</  missing:   /p; s/^>/  unexpected:/p'
    status=1
  fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case $format in
elf)
  nm=${NM:-nm}
  objdump=${OBJDUMP:-objdump}
  same "format of $file" "$("$objdump" -f "$file" | sed -n 's/.*file format //p')" "elf64-x86-64"
  "$nm" -D --defined-only "$file" | awk '{ print $3 }' | sort > "$tmp/defined"
  same "defined dynamic symbols of $file" "$(cat "$tmp/defined")" "mexFunction"
  # Undefined symbols without a version come from no system library: they are the host's.
  # The weak ones are the toolchain's optional hooks, resolved to nothing when absent.
  "$nm" -D --undefined-only "$file" > "$tmp/undefined"
  host=$(awk '$1 == "U" && $2 !~ /@/ { print $2 }' "$tmp/undefined" | sort)
  same "host symbols $file leaves undefined" "$host" "$(printf '%s\n%s\n' "$libmex" "$libmx" | sort)"
  weak=$(awk '$1 != "U" && $2 !~ /@/ { print $2 }' "$tmp/undefined" | sort)
  same "unversioned weak symbols of $file" "$weak" "$(printf '%s\n' _ITM_deregisterTMCloneTable \
    _ITM_registerTMCloneTable __gmon_start__)"
  "$objdump" -p "$file" > "$tmp/headers"
  needed=$(awk '$1 == "NEEDED" { print $2 }' "$tmp/headers" | sort)
  echo "needed libraries: $(echo $needed)"
  same "needed libraries of $file" "$needed" "$(printf '%s\n' libc.so.6 libm.so.6 libmex.so libmx.so)"
  versions=$(sed -n '/^Version References:/,/^$/p' "$tmp/headers" | awk 'NF == 4 { print $4 }' | sort -u)
  same "symbol versions $file needs" "$versions" "GLIBC_2.2.5"
  ;;
pe)
  objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
  "$objdump" -p "$file" > "$tmp/headers"
  : > "$tmp/dlls"
  same "format of $file" "$(sed -n 's/.*file format //p' "$tmp/headers")" "pei-x86-64"
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                 table && /^\t\[ *[0-9]+\]/ { print $NF; next }
                 table { table = 0 }' "$tmp/headers" | sort)
  same "exports of $file" "$exports" "mexFunction"
  # Each import: DLL name, then one line per function (address, hint, name).
  awk '/^\tDLL Name:/ { dll = $3; print dll > "'"$tmp"'/dlls"; next }
       /^$/ || /^[^\t]/ { dll = ""; next }
       /^\tvma:/ { next }
       dll != "" && NF >= 3 { print dll, $3 }' "$tmp/headers" > "$tmp/imports"
  same "imports of $file from libmex.dll" \
    "$(awk '$1 == "libmex.dll" { print $2 }' "$tmp/imports" | sort)" "$libmex"
  same "imports of $file from libmx.dll" \
    "$(awk '$1 == "libmx.dll" { print $2 }' "$tmp/imports" | sort)" "$(printf '%s\n' "$libmx" | sort)"
  echo "DLLs imported from: $(sort "$tmp/dlls" | tr '\n' ' ')"
  others=$(grep -Eiv '^(libmx\.dll|libmex\.dll|kernel32\.dll|msvcrt\.dll|ucrtbase\.dll|api-ms-win-[a-z0-9-]+\.dll)$' \
           "$tmp/dlls" || true)
  if [ -n "$others" ]; then
    echo "FAIL: $file needs DLLs that are neither the host's nor Windows': $(echo $others)"
    status=1
  fi
  ;;
*) echo "unknown format: $format (elf or pe)" >&2; exit 2 ;;
esac
exit $status
