#!/bin/bash
# jobs/trokarray.sbatch on a real single-node Slurm cluster (tests/slurm/cluster.sh):
# an array over eight days, a cut-off day and an index past the list, a list
# making one product twice, scancel of a running task, and a time limit with
# the early SIGTERM. Prints the state and exit code that sacct shows for each
# outcome.
#
#   test_slurm.sh BUILD_DIR WORK_DIR
set -u
build=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)

# Start the cluster, then run this script again inside it.
if [ -z "${TROK_CLUSTER_DIR:-}" ]; then
    rm -rf "$work" && mkdir -p "$work" || exit 1
    work=$(cd "$work" && pwd)
    exec "$here/cluster.sh" "$work/cluster" "$BASH" "${BASH_SOURCE[0]}" "$build" "$work"
fi

export PATH=$build:$src/jobs:$PATH
failures=0 passes=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
expect() { if eval "$2"; then pass; else fail "$1"; fi; }

cd "$work" && mkdir -p in || exit 1
for d in 1 2 3 4 5 6 7 8; do
    trokgen --out in/day$d.pkt --seconds 86400 --seed $d --start 2026-06-0${d} \
        --small-gaps 2 --large-gaps 1 >/dev/null || exit 1
done
trokgen --out in/elements.pkt --tle elements.tle --seconds 60 --start 2026-06-04 >/dev/null || exit 1
head -c 400000 in/day3.pkt > in/day9cut.pkt
ls "$work"/in/day*.pkt > packets.list    # days 1 to 8, then the cut-off day

# Waits until job $1 (all its tasks) has left the queue; at most $2 seconds.
wait_job() {
    local i
    for ((i = 0; i < $2 * 2; i++)); do
        [ -z "$(squeue -h -j "$1" 2>/dev/null)" ] && return 0
        sleep 0.5
    done
    return 1
}
# "STATE EXITCODE" of array task $2 of job $1, as sacct reads it from the job
# completion records (the task's own job id comes from scontrol).
task_id() {
    scontrol -o show job "$1" | awk -v t="$2" '
        { id = ""; task = "" }
        { for (i = 1; i <= NF; i++) { split($i, kv, "=");
            if (kv[1] == "JobId") id = kv[2]; if (kv[1] == "ArrayTaskId") task = kv[2] } }
        task == t { print id }'
}
outcome() {
    local id
    id=$(task_id "$1" "$2")
    [ -n "$id" ] || id=$1
    sacct --completion -n -P -j "$id" -o State,ExitCode 2>/dev/null | head -n 1 | tr '|' ' '
}
# Pids of job $1's processes on the node, while it runs.
job_pids() { scontrol listpids "$1" 2>/dev/null | awk 'NR > 1 && $1 ~ /^[0-9]+$/ { print $1 }' | sort -u; }
# True when every pid of $1 has ended, within 15 s (Slurm's SIGKILL to what
# is left of a step comes KillWait = 5 s after its SIGTERM); else lists them.
all_gone() {
    local p left i
    for ((i = 0; i < 30; i++)); do
        left=""
        for p in $1; do
            # a zombie has ended; it waits only to be reaped by whoever adopted it
            local st
            st=$(ps -o stat= -p "$p" 2>/dev/null)
            [ -n "$st" ] && [[ $st != Z* ]] && left="$left $p"
        done
        [ -z "$left" ] && return 0
        sleep 0.5
    done
    ps -o pid=,ppid=,stat=,args= -p "${left# }" 2>/dev/null
    return 1
}
no_leftovers() {   # no product and no temporary file of day $2 in folder $1
    [ -z "$(find "$1" -name "*day$2*" 2>/dev/null)" ]
}

# --- eight days -------------------------------------------------------------
array=$(sbatch --parsable --array=0-7%4 --time=5 "$src/jobs/trokarray.sbatch" \
    packets.list elements.tle out logs) || exit 1
expect "array of eight days finished within 120 s" 'wait_job "$array" 120'
for t in 0 1 2 3 4 5 6 7; do
    d=$((t + 1))
    expect "task $t: products pass the check" 'qlrdump --check out/day$d.eph out/day$d.att >/dev/null 2>&1'
    expect "task $t: sacct COMPLETED 0:0 (got $(outcome "$array" $t))" '[ "$(outcome "$array" $t)" = "COMPLETED 0:0" ]'
done
expect "eight ok lines in the run log" '[ $(grep -c "	ok	" out/runlog.tsv) -eq 8 ]'
expect "a log per task in logs/, made by the script" '[ $(ls logs | grep -c "^${array}_[0-7].log$") -eq 8 ]'
echo "sacct: success: $(outcome "$array" 0)"

# --- a cut-off day, and an index past the list --------------------------------
bad=$(sbatch --parsable --array=8-9 --time=5 "$src/jobs/trokarray.sbatch" packets.list elements.tle out logs) || exit 1
expect "cut-off and past-the-end tasks finished" 'wait_job "$bad" 60'
expect "cut-off day: sacct FAILED 255:0 (got $(outcome "$bad" 8))" '[ "$(outcome "$bad" 8)" = "FAILED 255:0" ]'
expect "cut-off day: 255 in the run log, and why" 'grep -q "day9cut.pkt	255	input-refused	.*	Packet File Read Error$" out/runlog.tsv'
expect "past the list: sacct FAILED 2:0 (got $(outcome "$bad" 9))" '[ "$(outcome "$bad" 9)" = "FAILED 2:0" ]'
expect "past the list: the message in the task's log" 'grep -q "task 9: packets.list has 9 lines" logs/${bad}_9.log'
expect "past the list: nothing named .eph" '[ ! -e out/.eph ]'
echo "sacct: input refused: $(outcome "$bad" 8); index past the list: $(outcome "$bad" 9)"

# --- a list that makes one product twice runs no task ---------------------------
printf '%s\n' in/day1.pkt "$work/in/day1.pkt" > twice.list
twice=$(sbatch --parsable --array=0-1 --time=5 "$src/jobs/trokarray.sbatch" twice.list elements.tle twice logs) || exit 1
expect "same product twice: both tasks FAILED 2:0, no product, the lines named" \
    'wait_job "$twice" 60 && [ "$(outcome "$twice" 0)" = "FAILED 2:0" ] && [ "$(outcome "$twice" 1)" = "FAILED 2:0" ] &&
     [ ! -e twice ] && grep -q "lines 1 and 2 " logs/${twice}_0.log'

# --- a check that fails, a stale element set, and a resubmitted array that skips finished days
printf -- '-noradsatname NOSUCHSAT\n' > nosuchsat.cfg
checked=$(TROK_CONFIG=$work/nosuchsat.cfg sbatch --parsable --array=0 --time=5 \
    "$src/jobs/trokarray.sbatch" packets.list elements.tle checkfail logs) || exit 1
aged=$(TROK_MAX_ELEMENT_AGE=1 sbatch --parsable --array=0 --time=5 \
    "$src/jobs/trokarray.sbatch" packets.list elements.tle aged logs) || exit 1
again=$(TROK_SKIP_DONE=yes sbatch --parsable --array=0-7 --time=5 \
    "$src/jobs/trokarray.sbatch" packets.list elements.tle out logs) || exit 1
expect "check failed and resubmitted arrays finished" \
    'wait_job "$checked" 60 && wait_job "$aged" 60 && wait_job "$again" 60'
expect "check failed: sacct FAILED 3:0 (got $(outcome "$checked" 0))" '[ "$(outcome "$checked" 0)" = "FAILED 3:0" ]'
expect "element set 3 days old, --max-element-age 1: check failed, and why" \
    '[ "$(outcome "$aged" 0)" = "FAILED 3:0" ] && grep -q "check-failed	.*	qlrdump: check failed: the element-set epoch" aged/runlog.tsv'
expect "resubmitted array: eight skipped lines" '[ $(grep -c "	skipped	" out/runlog.tsv) -eq 8 ]'
echo "sacct: check failed: $(outcome "$checked" 0)"

# --- scancel of a running task ---------------------------------------------------
# trokproc held while it writes its products, so that the task is stopped then.
export TROKPROC_REAL=$build/trokproc TROKPROC=$src/tests/jobs/slow-trokproc
echo "$work/in/day1.pkt" > slow.list
# Waits until job $1 holds trokproc (the temporary ephemeris file exists in
# folder $2; at most 60 s); prints the job's pids.
running_pids() {
    local i
    for ((i = 0; i < 120; i++)); do
        if compgen -G "$2/.day1.eph.*trokproc-tmp" >/dev/null; then job_pids "$1"; return 0; fi
        sleep 0.5
    done
    return 1
}
cancelled=$(sbatch --parsable --array=0 --time=5 "$src/jobs/trokarray.sbatch" slow.list elements.tle cancel logs) || exit 1
pids=$(running_pids "$cancelled" cancel)
expect "scancel: the task ran (pids: $(echo $pids))" '[ -n "$pids" ]'
scancel "$cancelled"
expect "scancel: the task ended" 'wait_job "$cancelled" 60'
sleep 1
expect "scancel: every process of the task is gone" 'all_gone "$pids"'
expect "scancel: no product and no temporary file" 'no_leftovers cancel 1'
expect "scancel: sacct CANCELLED (got $(outcome "$cancelled" 0))" '[[ "$(outcome "$cancelled" 0)" == "CANCELLED "* ]]'
expect "scancel: stopped in the run log" 'grep -q "day1.pkt	143	stopped	.*	stopped by SIGTERM$" cancel/runlog.tsv'
echo "sacct: scancel: $(outcome "$cancelled" 0)"

# --- time limit with the early SIGTERM -------------------------------------------
# One minute, SIGTERM to the batch shell (pgsentry) 50 s before it. Slurm
# checks limits about every 30 s, so the signal comes 10 to 40 s in, within
# 55 s of the end: the time limit, not a stop.
export TROK_SIGNAL_LEAD=55
limited=$(sbatch --parsable --array=0 --time=1 --signal=B:TERM@50 "$src/jobs/trokarray.sbatch" \
    slow.list elements.tle limit logs) || exit 1
pids=$(running_pids "$limited" limit)
expect "time limit: the task ran (pids: $(echo $pids))" '[ -n "$pids" ]'
expect "time limit: the task ended within 100 s" 'wait_job "$limited" 100'
sleep 1
expect "time limit: every process of the task is gone" 'all_gone "$pids"'
expect "time limit: no product and no temporary file" 'no_leftovers limit 1'
expect "time limit: sacct FAILED 15:0 (got $(outcome "$limited" 0))" '[ "$(outcome "$limited" 0)" = "FAILED 15:0" ]'
expect "time limit: time-limit in the run log" 'grep -q "day1.pkt	143	time-limit	.*	SIGTERM at the time limit$" limit/runlog.tsv'
echo "sacct: early SIGTERM before the time limit: $(outcome "$limited" 0)"

printf '%d passed, %d failed\n' "$passes" "$failures"
[ $failures -eq 0 ]
