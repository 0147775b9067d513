#!/usr/bin/env bash
# Writes the benchmark recordings into data/large/ (git-ignored), plain and gzip.
# A file is rewritten only when it is missing or was made by other options or another
# version of the generator, so running this again costs nothing.
#   usage: scripts/make_bench_data.sh [small|medium|large]...   (default: all three)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/data/large
generator=$root/scripts/generate_stream.py
python=${PYTHON:-python3}

declare -A options=(
  [small]="--runners 8 --messages 20000 --depth 10 --seed 11"
  [medium]="--runners 20 --messages 60000 --depth 20 --seed 12"
  [large]="--runners 40 --messages 200000 --depth 40 --seed 13"
)

make_size() {
  local name=$1 plain=$out/$1.jsonl
  [[ -n ${options[$name]:-} ]] || { echo "unknown size: $name (small, medium or large)" >&2; exit 2; }
  local stamp="${options[$name]} generator $(sha256sum < "$generator" | cut -c1-16)"
  if [[ -f $plain && -f $plain.gz && "$(cat "$out/$name.stamp" 2>/dev/null)" == "$stamp" ]]; then
    echo "$name: up to date"
    return
  fi
  echo "$name: writing $plain and $plain.gz"
  rm -f "$out/$name.stamp"
  # shellcheck disable=SC2086 # the options are meant to split into words
  "$python" "$generator" ${options[$name]} "$plain.tmp"
  mv "$plain.tmp" "$plain"
  # -n leaves out the name and time stamp, so the same input gives the same bytes.
  gzip -n -6 -c "$plain" > "$plain.gz.tmp"
  mv "$plain.gz.tmp" "$plain.gz"
  echo "$stamp" > "$out/$name.stamp"
}

sizes=("$@")
(( ${#sizes[@]} )) || sizes=(small medium large)
mkdir -p "$out"
for size in "${sizes[@]}"; do make_size "$size"; done
