#!/usr/bin/env bash
# A bounded fuzz session of the Base64 decoders for the normal test suite:
# builds the libFuzzer target with clang (the suite itself may be built with
# g++) and runs it for a fixed time. Exits 77 (skipped) when clang or its
# libFuzzer runtime is not installed.
set -euo pipefail
src=$1
work=$2
seconds=${3:-20}
cxx=${GLOWSNAP_FUZZ_CXX:-clang++}
mkdir -p "$work/corpus" "$work/artifacts"

if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "SKIPPED: $cxx is not installed, so the libFuzzer target cannot be built"
  exit 77
fi
probe="$work/probe.cpp"
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$probe"
if ! "$cxx" -fsanitize=fuzzer "$probe" -o "$work/probe" >/dev/null 2>&1; then
  echo "SKIPPED: $cxx has no libFuzzer runtime (-fsanitize=fuzzer does not link)"
  exit 77
fi

# Rebuild only when a source changed.
binary="$work/fuzz_base64"
sources=("$src/base64/Base64.cpp" "$src/tests/base64/fuzz_base64.cpp" "$src/base64/Base64.h")
rebuild=0
[[ -x $binary ]] || rebuild=1
for f in "${sources[@]}"; do [[ $f -nt $binary ]] && rebuild=1; done
if ((rebuild)); then
  "$cxx" -std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined -I"$src" \
    "$src/base64/Base64.cpp" "$src/tests/base64/fuzz_base64.cpp" -o "$binary"
fi

# Seeds: a few valid and nearly valid texts so the session starts deep.
for seed in "Zm9vYmFy" "Zm9vYg==" "YQ= =" "_w" "QR==" "YW Jj\n"; do
  printf '%b' "$seed" >"$work/corpus/seed-$(printf '%s' "$seed" | od -An -tx1 | tr -d ' \n')"
done

exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
