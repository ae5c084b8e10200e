#!/bin/bash
# jobs/trokparallel and jobs/trokjob on the real GNU parallel: eight simulated
# days, a cut-off packet file, a job past its time limit (and its retry), and a
# resumed run. Every process the test starts is ended by pid at the end.
#
#   test_parallel.sh BUILD_DIR WORK_DIR
set -u
build=$(cd "$1" && pwd)
work=$2
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export PATH=$build:$PATH

failures=0 passes=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
expect() { if eval "$2"; then pass; else fail "$1"; fi; }

command -v parallel >/dev/null || { echo "GNU parallel is not installed (apt-get install parallel)"; exit 1; }

# Pids of the processes in process group $1.
group_pids() { ps -e -o pid=,pgid= | awk -v g="$1" '$2 == g { print $1 }'; }

started=()   # parallel's pids, ended whatever happens
group=""     # process group of the job under watch
cleanup() {
    local p
    for p in "${started[@]}"; do kill -KILL "$p" 2>/dev/null; done
    for p in "${started[@]}"; do wait "$p" 2>/dev/null; done
    # what is left of the job's group, by pid
    if [ -n "$group" ]; then
        for p in $(group_pids "$group"); do kill -KILL "$p" 2>/dev/null; done
    fi
}
trap cleanup EXIT

rm -rf "$work" && mkdir -p "$work/in" && cd "$work" || exit 1
for d in 1 2 3 4 5 6 7 8; do
    trokgen --out in/day$d.pkt --seconds 86400 --seed $d --start 2026-06-0${d} \
        --small-gaps 2 --large-gaps 1 --repeats 1 >/dev/null || exit 1
done
trokgen --out in/elements.pkt --tle elements.tle --seconds 60 --start 2026-06-04 >/dev/null || exit 1
head -c 400000 in/day3.pkt > in/day9cut.pkt
ls "$work"/in/day*.pkt > all.list

# Field N of the run log line of a packet file (last line wins).
runlog_field() { awk -F'\t' -v f="$2" -v n="$3" '$3 == f { v = $n } END { print v }' "$1"; }
joblog_status() { awk -F'\t' -v f="$2" 'index($9, f) { v = $7 } END { print v }' "$1"; }
# JobRuntime of the last joblog line of a packet file, whole seconds rounded up.
joblog_runtime() { awk -F'\t' -v f="$2" 'index($9, f) { v = $4 } END { printf "%d", v + 0.999 }' "$1"; }

# --- eight days and a cut-off one -------------------------------------------
"$src/jobs/trokparallel" -j 2 --timeout 120 all.list elements.tle out > run1.out 2> run1.err
status=$?
expect "one failed job reported by parallel's status (got $status)" '[ $status -eq 1 ]'
for d in 1 2 3 4 5 6 7 8; do
    expect "day$d: run log says ok" '[ "$(runlog_field out/runlog.tsv "$work/in/day$d.pkt" 5)" = ok ]'
    expect "day$d: joblog status 0" '[ "$(joblog_status out/joblog "in/day$d.pkt")" = 0 ]'
    expect "day$d: products pass the check" 'qlrdump --check out/day$d.eph out/day$d.att >/dev/null'
done
expect "day1: records in the run log match the check" \
    '[ "$(runlog_field out/runlog.tsv "$work/in/day1.pkt" 6)" = "$(qlrdump --check out/day1.eph out/day1.att | sed -n "s/.*: \([0-9]*\) records.*/\1/p")" ]'
expect "cut-off day: 255 in the run log" '[ "$(runlog_field out/runlog.tsv "$work/in/day9cut.pkt" 4)" = 255 ]'
expect "cut-off day: input-refused in the run log" \
    '[ "$(runlog_field out/runlog.tsv "$work/in/day9cut.pkt" 5)" = input-refused ]'
expect "cut-off day: 255 in the joblog" '[ "$(joblog_status out/joblog in/day9cut.pkt)" = 255 ]'
expect "cut-off day: no product" '[ ! -e out/day9cut.eph ] && [ ! -e out/day9cut.att ]'
expect "nine run log lines" '[ $(wc -l < out/runlog.tsv) -eq 9 ]'

# --- resume: finished days are skipped, not run again -------------------------
stamp() { stat -c %Y.%i out/day$1.eph; }
before=$(for d in 1 2 3 4 5 6 7 8; do stamp $d; done)
"$src/jobs/trokparallel" -j 2 --resume all.list elements.tle out > run2.out 2> run2.err
status=$?
expect "resumed run: only the cut-off day fails (got $status)" '[ $status -eq 1 ]'
expect "resumed run: eight skipped lines" '[ $(tail -n 9 out/runlog.tsv | grep -c "	skipped	") -eq 8 ]'
expect "resumed run: products untouched" '[ "$(for d in 1 2 3 4 5 6 7 8; do stamp $d; done)" = "$before" ]'
expect "resumed run: the earlier joblog kept" '[ -s out/joblog.1 ]'
# A damaged product is not skipped: the day runs again.
truncate -s 10000 out/day5.att
"$src/jobs/trokparallel" --resume all.list elements.tle out > run3.out 2> run3.err
expect "resumed run: a damaged pair is made again" \
    '[ "$(runlog_field out/runlog.tsv "$work/in/day5.pkt" 5)" = ok ] && qlrdump --check out/day5.eph out/day5.att >/dev/null'

# --- time limit: a job past --timeout is ended whole --------------------------
# trokproc runs slowed down (stopped most of the time) so that it is still
# writing its products when the limit comes.
# Held like this, a day takes well over 30 s.
export TROKPROC_REAL=$build/trokproc TROKPROC=$src/tests/jobs/slow-trokproc SLOW_TROKPROC_PAUSE=1
echo "$work/in/day2.pkt" > slow.list
mkdir -p slow
cp out/day2.eph out/day2.att slow/   # earlier good products of the same name

# Runs trokparallel in the background and records the process group of its
# job (pgsentry leads it) and every pid in that group while the job runs.
run_timed() {
    local log=$1; shift
    "$src/jobs/trokparallel" "$@" > "$log.out" 2> "$log.err" &
    local tp=$!
    started+=("$tp")
    local i
    group=""
    for i in $(seq 1 200); do
        group=$(ps -o pid=,comm= --ppid "$tp" | awk '$2 == "pgsentry" { print $1; exit }')
        [ -n "$group" ] && break
        sleep 0.05
    done
    sleep 1
    jobpids=$(group_pids "$group" | tr '\n' ' ')
    wait "$tp"
    tpstatus=$?
}
job_gone() {
    local p
    for p in $jobpids; do
        # a pid may be reused, but not within this short a time by a process of this group
        # a zombie has ended; it waits only to be reaped by whoever adopted it
        if [ -e /proc/$p ] && [ "$(ps -o pgid= -p "$p" | tr -d ' ')" = "$group" ] &&
            [[ $(ps -o stat= -p "$p") != Z* ]]; then return 1; fi
    done
    return 0
}

t0=$(date +%s)
run_timed slow1 --timeout 3 --grace 2000 slow.list elements.tle slow
t1=$(date +%s)
expect "timed out: parallel counts one failed job (got $tpstatus)" '[ $tpstatus -eq 1 ]'
expect "timed out: job processes were seen ($jobpids)" '[ $(wc -w <<< "$jobpids") -ge 4 ]'
expect "timed out: every process of the job is gone" 'job_gone'
expect "timed out: the job ran no longer than the limit and grace ($(joblog_runtime slow/joblog in/day2.pkt) s)" \
    '[ $(joblog_runtime slow/joblog in/day2.pkt) -le 6 ]'
expect "timed out: trokparallel ended well before the run would have ($((t1 - t0)) s)" '[ $((t1 - t0)) -le 20 ]'
expect "timed out: joblog status 15 (pgsentry stopped)" '[ "$(joblog_status slow/joblog in/day2.pkt)" = 15 ]'
expect "timed out: run log says stopped" '[ "$(runlog_field slow/runlog.tsv "$work/in/day2.pkt" 5)" = stopped ]'
expect "timed out: earlier products untouched" 'cmp -s slow/day2.eph out/day2.eph && cmp -s slow/day2.att out/day2.att'
expect "timed out: no temporary product left" '[ -z "$(ls -A slow | grep -v -x -e day2.eph -e day2.att -e joblog -e runlog.tsv)" ]'

# The retry of the failed job obeys the same limit.
t0=$(date +%s)
run_timed slow2 --timeout 3 --grace 2000 --retry-failed slow.list elements.tle slow
t1=$(date +%s)
expect "retry: the job ran again and was stopped at the limit" \
    '[ $(grep -c "in/day2.pkt" slow/joblog) -ge 1 ] && [ "$(joblog_status slow/joblog in/day2.pkt)" = 15 ]'
expect "retry: the job ran no longer than the limit and grace ($(joblog_runtime slow/joblog in/day2.pkt) s)" \
    '[ $(joblog_runtime slow/joblog in/day2.pkt) -le 6 ]'
expect "retry: trokparallel ended well before the run would have ($((t1 - t0)) s)" '[ $((t1 - t0)) -le 20 ]'
expect "retry: every process of the job is gone" 'job_gone'
expect "retry: two stopped lines in the run log" '[ $(grep -c "	stopped	" slow/runlog.tsv) -eq 2 ]'
expect "retry: earlier products untouched" 'cmp -s slow/day2.eph out/day2.eph && cmp -s slow/day2.att out/day2.att'

# --- job statuses straight from trokjob ---------------------------------------
unset TROKPROC TROKPROC_REAL SLOW_TROKPROC_PAUSE
"$src/jobs/trokjob" "" elements.tle out 2> usage.err
expect "empty packet file name: status 2" '[ $? -eq 2 ] && grep -q "empty packet file name" usage.err'
"$src/jobs/trokjob" in/.pkt elements.tle out 2> usage.err
expect "nameless packet file: status 2, nothing named .eph" '[ $? -eq 2 ] && [ ! -e out/.eph ]'
# A satellite missing from the element file gives products the check refuses.
printf -- '-noradsatname NOSUCHSAT\n' > nosuchsat.cfg
"$src/jobs/trokjob" --config nosuchsat.cfg in/day1.pkt elements.tle checkfail >/dev/null 2> check.err
expect "check failed: status 3" '[ $? -eq 3 ]'
expect "check failed: run log says check-failed" \
    '[ "$(runlog_field checkfail/runlog.tsv in/day1.pkt 5)" = check-failed ]'

printf '%d passed, %d failed\n' "$passes" "$failures"
[ $failures -eq 0 ]
