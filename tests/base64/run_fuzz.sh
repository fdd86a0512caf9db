#!/usr/bin/env bash
# A bounded fuzz session of the Base64 decoders for the normal test suite:
# builds the libFuzzer target with clang (the suite itself may be built with
# g++) and runs it for a fixed time. Exits 77 (skipped) when clang or its
# libFuzzer runtime is not installed.
set -euo pipefail
source "$(dirname "$0")/../support/fuzz_session.sh" "$@"

binary="$work/fuzz_base64"
sources=("$src/base64/Base64.cpp" "$src/tests/base64/fuzz_base64.cpp")
if fuzz_needs_rebuild "$binary" "${sources[@]}" "$src/base64/Base64.h"; then
  "$cxx" "${fuzz_cxxflags[@]}" "${sources[@]}" -o "$binary"
fi

# Seeds: a few valid and nearly valid texts so the session starts deep.
for seed in "Zm9vYmFy" "Zm9vYg==" "YQ= =" "_w" "QR==" "YW Jj\n"; do
  printf '%b' "$seed" >"$work/corpus/seed-$(printf '%s' "$seed" | od -An -tx1 | tr -d ' \n')"
done

fuzz_run "$binary"
