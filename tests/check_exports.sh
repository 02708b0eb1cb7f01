#!/bin/sh
# Fails unless the shared library $1 defines exactly one exported function: mexFunction.
set -eu
exported=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtWiV]$/ { print $3 }' | sort)
echo "exported functions of $1: $exported"
[ "$exported" = "mexFunction" ]
