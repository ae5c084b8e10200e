#!/bin/bash
# jobs/trokarray.sbatch on a real single-node Slurm cluster (tests/slurm/cluster.sh):
# an array over eight days, a cut-off day and an index past the list, a list
# making one product twice, scancel of a running task, and a time limit with
# the early SIGTERM; tasks of several lines and the early SIGTERM reaching
# them; trokcampaign's Slurm engine on a 20-day archive with one task
# cancelled, finished by a second run. Prints the state and exit code that
# sacct shows for each outcome.
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
echo "$work/in/day1.pkt" > slow.list
printf '%s\n' "$work/in/day1.pkt" "$work/in/day2.pkt" > slow2.list

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
# Runs a command with trokproc held while it writes its products, so that a
# task can be stopped then.
slow() { TROKPROC_REAL=$build/trokproc TROKPROC=$src/tests/jobs/slow-trokproc "$@"; }
# Waits until job $1 holds trokproc (the temporary ephemeris file of day $3,
# default 1, exists in folder $2; at most 60 s); prints the job's pids.
running_pids() {
    local i
    for ((i = 0; i < 120; i++)); do
        if compgen -G "$2/.day${3:-1}.eph.*trokproc-tmp" >/dev/null; then job_pids "$1"; return 0; fi
        sleep 0.5
    done
    return 1
}

# --- time limit with the early SIGTERM (submitted first, checked last) ------------
# One minute, SIGTERM to the batch shell (pgsentry) 50 s before it. Slurm
# checks limits about every 30 s, so the signal comes 10 to 40 s in, within
# 55 s of the end: the time limit, not a stop. The other tests run meanwhile.
limited=$(TROK_SIGNAL_LEAD=55 slow sbatch --parsable --array=0 --time=1 --signal=B:TERM@50 \
    "$src/jobs/trokarray.sbatch" slow.list elements.tle limit logs) || exit 1
limited_pids=$(running_pids "$limited" limit)
expect "time limit: the task ran (pids: $(echo $limited_pids))" '[ -n "$limited_pids" ]'

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
# The manual page's recipe for the tasks that did not complete, without
# accounting storage.
notdone=$(scontrol -o show job "$bad" | awk '{ for (i = 1; i <= NF; i++) { split($i, f, "="); v[f[1]] = f[2] }
    if (v["JobState"] != "COMPLETED") print v["ArrayTaskId"], v["JobState"], v["ExitCode"] }' | sort | tr '\n' ';')
expect "the scontrol recipe lists both tasks (got $notdone)" '[ "$notdone" = "8 FAILED 255:0;9 FAILED 2:0;" ]'


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
cancelled=$(slow sbatch --parsable --array=0 --time=5 "$src/jobs/trokarray.sbatch" slow.list elements.tle cancel logs) || exit 1
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

# --- several lines a task: batches, the end of the list, the early SIGTERM --------
batched=$(TROK_LINES_PER_TASK=4 sbatch --parsable --array=0-3 --time=5 "$src/jobs/trokarray.sbatch" \
    packets.list elements.tle batch logs) || exit 1
expect "batches of four lines finished" 'wait_job "$batched" 120'
expect "batches: eight days ok, the cut-off day refused, in the run log" \
    '[ $(grep -c "	ok	" batch/runlog.tsv) -eq 8 ] && [ $(grep -c "	255	input-refused	" batch/runlog.tsv) -eq 1 ]'
expect "batches: tasks 0 and 1 COMPLETED 0:0, task 2 (the cut-off day) FAILED 255:0" \
    '[ "$(outcome "$batched" 0)" = "COMPLETED 0:0" ] && [ "$(outcome "$batched" 1)" = "COMPLETED 0:0" ] &&
     [ "$(outcome "$batched" 2)" = "FAILED 255:0" ]'
expect "batches: task 3 lies past the list: FAILED 2:0, and why" \
    '[ "$(outcome "$batched" 3)" = "FAILED 2:0" ] && grep -q "task 3: packets.list has 9 lines (tasks 0 to 2 of 4 lines)" logs/${batched}_3.log'
# The early SIGTERM goes to the batch shell alone (scancel --batch, as
# --signal=B:TERM sends it); it passes it on to the running trokjob.
termed=$(TROK_LINES_PER_TASK=2 slow sbatch --parsable --array=0 --time=5 "$src/jobs/trokarray.sbatch" \
    slow2.list elements.tle termed logs) || exit 1
pids=$(running_pids "$termed" termed)
expect "batch SIGTERM: the task ran (pids: $(echo $pids))" '[ -n "$pids" ]'
scancel --batch --signal=TERM "$termed"
expect "batch SIGTERM: the task ended" 'wait_job "$termed" 60'
sleep 1
expect "batch SIGTERM: every process of the task is gone" 'all_gone "$pids"'
expect "batch SIGTERM: no product and no temporary file of either day" 'no_leftovers termed 1 && no_leftovers termed 2'
expect "batch SIGTERM: sacct FAILED 15:0 (got $(outcome "$termed" 0))" '[ "$(outcome "$termed" 0)" = "FAILED 15:0" ]'
expect "batch SIGTERM: the first day stopped, the second never begun" \
    'grep -q "day1.pkt	143	stopped	" termed/runlog.tsv && ! grep -q "day2.pkt" termed/runlog.tsv'

# --- trokcampaign on the cluster: one task cancelled, a second run finishes it ----
mkdir -p camp
trokgen --archive camp/arc --days 20 --start 2026-06-21 --tle camp/history.tle --small-gaps 40 --large-gaps 20 \
    --cut-days 4 --flip-days 8 --time-fault-days 10 --tle-gap-days 11-18 >/dev/null || exit 1
rm camp/arc/2026/07/02.pkt
campaign=(trokcampaign run --engine slurm --days-per-task 4 --archive camp/arc --elements camp/history.tle --out camp/c)
# The task holding 2026-06-27 (task 1: 06-25 to 06-28) is cancelled while
# that day's trokproc writes its products.
held=2026-06-27
TROKPROC=$src/tests/slurm/hold-one-trokproc TROKPROC_REAL=$build/trokproc TROK_HOLD_PACKET=$work/camp/arc/2026/06/27.pkt \
    "${campaign[@]}" 2> camp/run1.err &
driver=$!
for ((i = 0; i < 120; i++)); do
    compgen -G "camp/c/run/work/$held/.$held.eph.*trokproc-tmp" >/dev/null && break
    sleep 0.5
done
job=$(sed -n 's/^trokcampaign: Slurm job \([0-9]*\): .*/\1/p' camp/run1.err)
task=$(( ($(grep -n "^$held\$" camp/c/run/days.list | cut -d: -f1) - 1) / 4 ))
pids=$(job_pids "$(task_id "$job" "$task")")
expect "campaign: Slurm job $job, task $task holds $held (pids: $(echo $pids))" '[ -n "$job" ] && [ -n "$pids" ]'
scancel "${job}_$task"
wait $driver
first=$?
expect "campaign: the first run ends with 1 (days not ok; got $first)" '[ $first = 1 ]'
expect "campaign: every process of the cancelled task is gone" 'all_gone "$pids"'
expect "campaign: no temporary file" '[ -z "$(find camp/c -name "*trokproc-tmp")" ]'
trokcampaign status --json camp/c > camp/status1.json
# A second run, left to Slurm (--no-wait); status follows it and folds it in.
"${campaign[@]}" --no-wait 2> camp/run2.err
second=$?
expect "campaign: the second run submits and returns 0 (got $second: $(cat camp/run2.err))" '[ $second = 0 ]'
for ((i = 0; i < 120; i++)); do
    trokcampaign status camp/c | grep -q '^Slurm job ' || break
    sleep 0.5
done
trokcampaign status --json camp/c > camp/status2.json
check=$(python3 - "$job" "$task" camp/status1.json camp/status2.json <<'PY'
import json, sys
job, task, one, two = sys.argv[1], sys.argv[2], json.load(open(sys.argv[3])), json.load(open(sys.argv[4]))
before = {d["day"]: d for d in one["days"]}
after = {d["day"]: d for d in two["days"]}
cancelled = {"2026-06-25", "2026-06-26", "2026-06-27", "2026-06-28"}
bad = []
# First run: the held day and the one after it in its task stopped, with the
# task's and the scheduler's reasons; the days before it in the task finished.
if before["2026-06-27"]["outcome"] != "stopped" or "signal 15" not in before["2026-06-27"]["reason"]:
    bad.append("held day: %s: %s" % (before["2026-06-27"]["outcome"], before["2026-06-27"]["reason"]))
if before["2026-06-28"]["outcome"] != "stopped" or "Slurm task %s_%s ended CANCELLED" % (job, task) not in before["2026-06-28"]["reason"]:
    bad.append("day after it: %s: %s" % (before["2026-06-28"]["outcome"], before["2026-06-28"]["reason"]))
for d in ("2026-06-25", "2026-06-26"):
    if before[d]["outcome"] != "ok" or before[d]["job_id"] != "%s_%s" % (job, task):
        bad.append("%s: %s, job %s" % (d, before[d]["outcome"], before[d]["job_id"]))
# Second run: exactly the stopped days again, now as the first run would
# have left them; every other day untouched.
want = {"ok": 13, "input-refused": 2, "check-failed": 1, "no-elements": 3, "stopped": 0, "no-space": 0, "missing": 1}
if two["counts"] != want or two["slurm"] is not None:
    bad.append("counts %s, slurm %s" % (two["counts"], two["slurm"]))
for d, row in after.items():
    again = before[d]["outcome"] == "stopped"
    if (row["run_id"] != before[d]["run_id"]) != again:
        bad.append("%s: run %s, before %s" % (d, row["run_id"], before[d]["run_id"]))
print("; ".join(bad) or "ok")
PY
)
expect "campaign: stopped days and their reasons, finished by the second run ($check)" '[ "$check" = ok ]'
echo "campaign: first run $(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["counts"])' camp/status1.json)"

# --- time limit: the outcome ---------------------------------------------------
expect "time limit: the task ended within 100 s" 'wait_job "$limited" 100'
sleep 1
expect "time limit: every process of the task is gone" 'all_gone "$limited_pids"'
expect "time limit: no product and no temporary file" 'no_leftovers limit 1'
expect "time limit: sacct FAILED 15:0 (got $(outcome "$limited" 0))" '[ "$(outcome "$limited" 0)" = "FAILED 15:0" ]'
expect "time limit: time-limit in the run log" 'grep -q "day1.pkt	143	time-limit	.*	SIGTERM at the time limit$" limit/runlog.tsv'
echo "sacct: early SIGTERM before the time limit: $(outcome "$limited" 0)"

printf '%d passed, %d failed\n' "$passes" "$failures"
[ $failures -eq 0 ]
