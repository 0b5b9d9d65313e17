#!/bin/sh
# run.sh FUZZER SEEDS WORK [libFuzzer options...]: one run of one target.  New inputs go to
# WORK/corpus/NAME (the seeds in the repository stay as they are), a finding to WORK/findings/.
# Prints how many inputs ran; the exit code is libFuzzer's (non-zero on any finding).
set -e
fuzzer=$1; seeds=$2; work=$3; shift 3
name=${fuzzer##*/fuzz_}
mkdir -p "$work/corpus/$name" "$work/findings"
log="$work/$name.log"
# The longest input: 4,096 octets, more than any frame or record; the POP3 renderer holds the
# first 4,096 octets of a letter (pop3::LOOKAHEAD) before it settles the headers, so its inputs
# must go well past that.
case $name in
pop3) max_len=12000 ;;
*) max_len=4096 ;;
esac
status=0
"$fuzzer" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
          -artifact_prefix="$work/findings/$name-" "$@" "$work/corpus/$name" "$seeds" >"$log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
echo "$name: ${runs:-?} inputs, exit $status"
[ $status = 0 ] || tail -n 40 "$log"
exit $status
