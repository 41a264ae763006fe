#!/usr/bin/env bash
# Builds the benchmarks (optimised) into build-bench/ and runs them on the
# generated large site (made once, about 40 s, ~600 MB, kept in build-bench/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPARKING_BUILD_TESTS=OFF -DPARKING_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)"
db="${1:-build-bench/large-site.db}"
build-bench/bin/rights_bench "$db" 20000
build-bench/bin/passage_bench "$db" 100000
