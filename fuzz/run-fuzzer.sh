#!/bin/bash
# run-fuzzer.sh <fuzzer> <seed corpus> <work dir> <seconds>
# New inputs go to the work dir; the seeds in the repo are only read.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus" "$seeds"
export VADAPTER_IMAGE="$work/image.bin"  # for the adapter image target
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$seeds"
