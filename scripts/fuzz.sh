#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time, starting from a copy of the seed corpus in
# fuzz/corpus, so that new inputs stay out of the repository.
#
#   scripts/fuzz.sh [SECONDS-PER-FUZZER]      default 25
#   scripts/fuzz.sh --seeds                   rewrites the generated seeds in fuzz/corpus
#
# Inputs that once failed are kept in fuzz/corpus as regress-*.bin.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARROW_BUILD_FUZZ=ON -DTARROW_BUILD_TESTS=OFF -DTARROW_BUILD_UI=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" >/dev/null

if [ "${1:-}" = "--seeds" ]; then
  cmake --build "$dir" -j2 --target fuzz_make_seeds
  "$dir/fuzz/fuzz_make_seeds" fuzz/corpus
  ls -l fuzz/corpus/*
  exit 0
fi

seconds="${1:-25}"
cmake --build "$dir" -j2 --target fuzz_usn_buffer fuzz_ntfs_record fuzz_ext_volume fuzz_backup_listing

status=0
for name in usn_buffer ntfs_record ext_volume backup_listing; do
  work="$dir/corpus/$name"
  mkdir -p "$work" "$dir/crashes"
  cp -n fuzz/corpus/"$name"/* "$work"/
  echo "== fuzz_$name for $seconds s"
  if ! "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$dir/crashes/$name-" -print_final_stats=1 "$work" 2>"$dir/fuzz_$name.log"; then
    tail -n 60 "$dir/fuzz_$name.log"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$dir/fuzz_$name.log" || true
  fi
done
exit $status
