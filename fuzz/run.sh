#!/usr/bin/env bash
# Runs each fuzz target built in BUILD for SECONDS, starting from the seeds
# in fuzz/corpus/ and from what earlier runs found (kept in BUILD/corpus/).
# Prints each target's speed and coverage; on a crash, a sanitizer report, a
# leak or a broken property, prints the report and where the input that
# caused it is kept, and fails once every target has had its turn.
#   fuzz/run.sh BUILD SECONDS [TARGET...]    (targets: header coefficients number)
set -uo pipefail
build=$1
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header coefficients number)
seeds=$(cd "$(dirname "$0")" && pwd)/corpus

failed=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    log=$build/$target-fuzz.log
    mkdir -p "$corpus" "$findings"
    # New inputs go to the first folder, so the seeds in the tree stay as
    # they are. An input that runs 10 s counts as a hang.
    if "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds/$target" \
        >"$log" 2>&1; then
        # "#704530 DONE cov: 160 ft: 215 corp: 29/685b lim: 4096 exec/s: 33549 rss: 471Mb"
        awk -v t="$target" -v s="$seconds" '/^#[0-9]+[ \t]+DONE/ {
            for (i = 3; i < NF; i += 2) v[$i] = $(i + 1)
            printf "%-13s %d s: %d runs, %s exec/s, coverage %s edges (%s features), corpus %s\n",
                t, s, substr($1, 2), v["exec/s:"], v["cov:"], v["ft:"], v["corp:"] }' "$log"
    else
        tail -n 60 "$log"
        echo "$target: FAILED; the input is kept in $findings/ (whole log: $log)" >&2
        failed+=("$target")
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "Fuzz targets that failed: ${failed[*]}" >&2; exit 1; }
