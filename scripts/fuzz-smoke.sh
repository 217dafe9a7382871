#!/usr/bin/env bash
# Runs one libFuzzer target briefly: fuzz-smoke.sh BINARY SEED_DIR WORK_DIR
# ARVELO_FUZZ_SECONDS sets the time (default 10 s).
set -euo pipefail
bin=$1 seeds=$2 work=$3
mkdir -p "$work"
dirs=("$work")
[ -d "$seeds" ] && dirs+=("$seeds")
exec "$bin" -max_total_time="${ARVELO_FUZZ_SECONDS:-10}" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=0 -artifact_prefix="$work/" "${dirs[@]}"
