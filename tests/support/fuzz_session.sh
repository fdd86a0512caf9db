# Shared by the bounded fuzz sessions of the test suite (sourced, not run).
# Usage in a script: source this file with "$@" (SOURCE_DIR WORK_DIR [SECONDS]);
# it sets src, work, seconds and cxx, makes the work folders, and exits 77
# (skipped) when clang or its libFuzzer runtime is missing. Then build the
# target into "$work/<name>" (fuzz_needs_rebuild tells whether a source is
# newer), write seeds into "$work/corpus" and call fuzz_run with the binary.
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

fuzz_cxxflags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
               -fno-sanitize-recover=undefined -I"$src")

# fuzz_needs_rebuild BINARY FILE...: true when BINARY is missing or older than a FILE.
fuzz_needs_rebuild() {
  local binary=$1
  shift
  [[ -x $binary ]] || return 0
  local f
  for f in "$@"; do [[ $f -nt $binary ]] && return 0; done
  return 1
}

# fuzz_run BINARY: the session itself, bounded in time and memory.
fuzz_run() {
  exec "$1" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus"
}
