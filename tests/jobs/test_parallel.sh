#!/bin/bash
# jobs/trokparallel and jobs/trokjob on the real GNU parallel: eight simulated
# days, a cut-off packet file, names that parallel or an option parser could
# take for something else, a list that makes one product twice, a resumed
# run, a job past its time limit (and its retry), Ctrl-C and its retry. Jobs
# that must be caught while writing run trokproc held at that point
# (slow-trokproc); the test waits for states, not for times. Every process
# the test starts is ended by pid at the end.
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
# True once the condition holds; false after a bound far past any expected
# wait (it only keeps a broken run from hanging the test).
wait_for() {
    local i
    for ((i = 0; i < 1200; i++)); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

command -v parallel >/dev/null || { echo "GNU parallel is not installed (apt-get install parallel)"; exit 1; }

# Pids of the processes in process group $1.
group_pids() { ps -e -o pid=,pgid= | awk -v g="$1" '$2 == g { print $1 }'; }

started=()   # parallel's pids, ended whatever happens
group=""     # process group of the job under watch
cleanup() {
    local p g groups=("$group")
    for p in "${started[@]}"; do
        # the jobs' groups (pgsentry leads each), then parallel
        groups+=($(ps -o pid= --ppid "$p"))
        kill -KILL "$p" 2>/dev/null
    done
    for p in "${started[@]}"; do wait "$p" 2>/dev/null; done
    for g in "${groups[@]}"; do
        [ -z "$g" ] || for p in $(group_pids "$g"); do kill -KILL "$p" 2>/dev/null; done
    done
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

# True when each product pair $1.eph and $1.att, ... passes the check.
pairs_pass() { local f; for f; do qlrdump --check "$f.eph" "$f.att" >/dev/null || return 1; done; }
# Field N of the run log line of a packet file (last line wins).
runlog_field() { awk -F'\t' -v f="$2" -v n="$3" '$3 == f { v = $n } END { print v }' "$1"; }
joblog_status() { awk -F'\t' -v f="$2" 'index($9, f) { v = $7 } END { print v }' "$1"; }
# JobRuntime of the last joblog line of a packet file.
joblog_runtime() { awk -F'\t' -v f="$2" 'index($9, f) { v = $4 } END { print v + 0 }' "$1"; }

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
# The reason is the first line of the message trokproc gives for that file
# on its own.
trokproc -configfile /dev/null -packetfile in/day9cut.pkt -noradfile elements.tle \
    -ephemerisfile /dev/null -attitudefile /dev/null >/dev/null 2> cut.err
expect "cut-off day: trokproc's message is the reason in the run log" \
    '[ "$(runlog_field out/runlog.tsv "$work/in/day9cut.pkt" 9)" = "$(grep -m 1 . cut.err)" ]'
expect "days that went well have no reason" '[ "$(runlog_field out/runlog.tsv "$work/in/day1.pkt" 9)" = - ]'
expect "nine run log lines" '[ $(wc -l < out/runlog.tsv) -eq 9 ]'

# --- names: replacement strings, option-like names, tabs ----------------------
# Every name a job gets is taken literally: parallel's replacement strings
# in the list, the element file, the output folder, the configuration, the
# run log and the joblog; list lines that look like options are files; a tab
# and a backslash are escaped in the run log.
mkdir -p odd && cd odd || exit 1
tab="t	b\\{.}x"   # a tab, a backslash, a replacement string
cp ../in/day1.pkt ./-dash.pkt && cp ../in/day2.pkt ./--help && cp ../in/day3.pkt "$tab.pkt"
el='el{.}{= qx(touch pwned) =}.tle' o='o {.} {= qx(touch pwned) =}'
cp ../elements.tle "$el" && : > 'c{#}.cfg'
printf '%s\n' -dash.pkt --help "$tab.pkt" > 'l{.}st'
"$src/jobs/trokparallel" --config 'c{#}.cfg' --runlog 'run{%}.tsv' --joblog '+jl{}' 'l{.}st' \
    "$el" "$o" > odd.out 2> odd.err
status=$?
expect "odd names: every job ran (status $status)" '[ $status -eq 0 ]'
expect "odd names: products in the folder named" 'pairs_pass "$o/-dash" "$o/--help" "$o/$tab"'
expect "odd names: logs where named, nothing else made" \
    '[ "$(ls -A | sort)" = "$(printf "%s\n" "+jl{}" --help -dash.pkt "c{#}.cfg" "$el" "l{.}st" "$o" \
        odd.err odd.out "run{%}.tsv" "$tab.pkt" | sort)" ]'
expect "odd names: a line per job, tab and backslash escaped" \
    '[ "$(cut -f 3,5 "run{%}.tsv" | sort)" = "$(printf "%s\tok\n" --help -dash.pkt "t\\tb\\\\{.}x.pkt" | sort)" ]'
cd "$work" || exit 1

# --- a list that makes one product twice is refused before any job --------------
printf '%s\n' "$work/in/day1.pkt" "$work/in/day2.pkt" /elsewhere/day1.pkt '' "$work/in/day2.raw" > twice.list
"$src/jobs/trokparallel" twice.list elements.tle twice 2> twice.err
status=$?
expect "same product names: status 255 (got $status)" '[ $status -eq 255 ]'
expect "same product names: each clash named by its lines" \
    'grep -q "lines 1 and 3 " twice.err && grep -q "lines 2 and 5 " twice.err'
expect "same product names: no job ran" '[ ! -e twice ]'

# --- resume: finished days are skipped, not run again -------------------------
stamp() { stat -c %Y.%i out/day$1.eph; }
before=$(for d in 1 2 3 4 5 6 7 8; do stamp $d; done)
# Temporaries left by runs killed outright (their process is gone) are
# removed; one whose process lives, one of a product not in the list, and
# one of another user stay.
true & dead=$!; wait $dead
stale=(".day1.eph.$dead.trokproc-tmp" ".day1.att.$dead.k3Zq9x.trokproc-tmp" ".day8.eph.$dead.000000.trokproc-tmp")
kept=(".day1.eph.$$.a1b2c3.trokproc-tmp" ".dayX.eph.$dead.a1b2c3.trokproc-tmp")
for f in "${stale[@]}" "${kept[@]}"; do echo partial > "out/$f"; done
if [ "$(id -u)" = 0 ]; then
    kept+=(".day2.att.$dead.a1b2c3.trokproc-tmp"); echo partial > "out/${kept[-1]}"; chown nobody "out/${kept[-1]}"
fi
"$src/jobs/trokparallel" -j 2 --resume all.list elements.tle out > run2.out 2> run2.err
status=$?
expect "resumed run: only the cut-off day fails (got $status)" '[ $status -eq 1 ]'
expect "resumed run: eight skipped lines" '[ $(tail -n 9 out/runlog.tsv | grep -c "	skipped	") -eq 8 ]'
expect "resumed run: products untouched" '[ "$(for d in 1 2 3 4 5 6 7 8; do stamp $d; done)" = "$before" ]'
expect "resumed run: the earlier joblog kept" '[ -s out/joblog.1 ]'
expect "resumed run: stale temporaries removed, the others kept" \
    '[ "$(ls -A out | grep trokproc-tmp | sort)" = "$(printf "%s\n" "${kept[@]}" | sort)" ]'
rm -f "${kept[@]/#/out/}"
# A damaged product is not skipped: the day runs again.
truncate -s 10000 out/day5.att
"$src/jobs/trokparallel" --resume all.list elements.tle out > run3.out 2> run3.err
expect "resumed run: a damaged pair is made again" \
    '[ "$(runlog_field out/runlog.tsv "$work/in/day5.pkt" 5)" = ok ] && qlrdump --check out/day5.eph out/day5.att >/dev/null'

# --- time limit: a job past --timeout is ended whole --------------------------
# trokproc is held while it writes its products, so the limit comes then.
export TROKPROC_REAL=$build/trokproc TROKPROC=$src/tests/jobs/slow-trokproc
echo "$work/in/day2.pkt" > slow.list
mkdir -p slow
cp out/day2.eph out/day2.att slow/   # earlier good products of the same name

# Runs trokparallel in the background; once its job holds trokproc (the
# temporary file of product $2 exists in folder $1), records the job's
# process group (pgsentry leads it) and every pid in it; then waits for
# trokparallel's end and for run log $1/runlog.tsv to have $3 lines.
run_held() {
    local dir=$1 product=$2 lines=$3; shift 3
    "$src/jobs/trokparallel" "$@" > "$dir.out" 2> "$dir.err" &
    local tp=$!
    started+=("$tp")
    wait_for 'compgen -G "$dir/.$product.*trokproc-tmp" >/dev/null'
    group=$(ps -o pid=,comm= --ppid "$tp" | awk '$2 == "pgsentry" { print $1; exit }')
    jobpids=$(group_pids "$group" | tr '\n' ' ')
    wait "$tp"
    tpstatus=$?
    wait_for '[ -f "$dir/runlog.tsv" ] && [ $(wc -l < "$dir/runlog.tsv") -ge $lines ]'
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
ran_to_limit() { awk -v t="$(joblog_runtime slow/joblog in/day2.pkt)" 'BEGIN { exit !(t >= 3) }'; }

# Twice: the run, and the retry of its failed job, which obeys the same limit.
for try in 1 2; do
    run_held slow day2.eph $try --timeout 3 --grace 2000 $([ $try = 1 ] || echo --retry-failed) \
        slow.list elements.tle slow
    expect "timed out ($try): parallel counts one failed job (got $tpstatus)" '[ $tpstatus -eq 1 ]'
    expect "timed out ($try): job processes were seen ($jobpids)" '[ $(wc -w <<< "$jobpids") -ge 4 ]'
    expect "timed out ($try): every process of the job is gone" 'wait_for job_gone'
    expect "timed out ($try): joblog status 15 (pgsentry stopped) after the limit" \
        '[ "$(joblog_status slow/joblog in/day2.pkt)" = 15 ] && ran_to_limit'
    expect "timed out ($try): run log says time-limit, and why" \
        '[ "$(runlog_field slow/runlog.tsv "$work/in/day2.pkt" 5)" = time-limit ] &&
         [ "$(runlog_field slow/runlog.tsv "$work/in/day2.pkt" 9)" = "SIGTERM at the time limit" ]'
    expect "timed out ($try): earlier products untouched" \
        'cmp -s slow/day2.eph out/day2.eph && cmp -s slow/day2.att out/day2.att'
    expect "timed out ($try): no temporary product left" \
        '[ -z "$(ls -A slow | grep -v -x -e day2.eph -e day2.att -e joblog -e runlog.tsv)" ]'
done

# --- Ctrl-C, then --retry-failed ----------------------------------------------
# Ctrl-C reaches trokparallel's process group (its own here, as a terminal's
# foreground job); parallel stops the two running jobs, which log stopped.
# The retry runs them and the day that never started.
printf '%s\n' "$work"/in/day{1,2,3}.pkt > three.list
set -m
"$src/jobs/trokparallel" -j 2 three.list elements.tle stop > stop.out 2> stop.err &
tp=$!
set +m
started+=("$tp")
wait_for '[ $(compgen -G "stop/.day*.eph.*trokproc-tmp" | wc -l) -eq 2 ]'
kill -INT -- -"$tp"
wait "$tp"
status=$?
expect "Ctrl-C: status 255 (got $status)" '[ $status -eq 255 ]'
expect "Ctrl-C: two jobs logged stopped" \
    'wait_for "[ \$(grep -c \"	stopped	\" stop/runlog.tsv 2>/dev/null) = 2 ]"'
unset TROKPROC TROKPROC_REAL
"$src/jobs/trokparallel" -j 2 --retry-failed three.list elements.tle stop > retry.out 2> retry.err
status=$?
expect "Ctrl-C retry: every day ran (status $status)" '[ $status -eq 0 ]'
expect "Ctrl-C retry: three ok lines, products pass" \
    '[ $(grep -c "	ok	" stop/runlog.tsv) = 3 ] && pairs_pass stop/day1 stop/day2 stop/day3'

# --- job statuses straight from trokjob ---------------------------------------
"$src/jobs/trokjob" "" elements.tle out 2> usage.err
expect "empty packet file name: status 2" '[ $? -eq 2 ] && grep -q "empty packet file name" usage.err'
"$src/jobs/trokjob" in/.pkt elements.tle out 2> usage.err
expect "nameless packet file: status 2, nothing named .eph" '[ $? -eq 2 ] && [ ! -e out/.eph ]'
# A job whose pair passes says nothing on standard error (the check's
# per-orbit node offsets are its report, not a message).
"$src/jobs/trokjob" in/day4.pkt elements.tle quiet >/dev/null 2> quiet.err
expect "passing job: status 0, nothing on standard error" '[ $? -eq 0 ] && [ ! -s quiet.err ]'
# A satellite missing from the element file gives products the check refuses.
printf -- '-noradsatname NOSUCHSAT\n' > nosuchsat.cfg
"$src/jobs/trokjob" --config nosuchsat.cfg in/day1.pkt elements.tle checkfail >/dev/null 2> check.err
expect "check failed: status 3" '[ $? -eq 3 ]'
expect "check failed: run log says check-failed, with the check's first failed line" \
    '[ "$(runlog_field checkfail/runlog.tsv in/day1.pkt 5)" = check-failed ] &&
     [ "$(runlog_field checkfail/runlog.tsv in/day1.pkt 9)" = "$(grep -m 1 "check failed:" check.err)" ]'
# --max-element-age reaches the check: the element set is 3 days from day 1.
echo "$work/in/day1.pkt" > one.list
"$src/jobs/trokparallel" --max-element-age 1 one.list elements.tle aged >/dev/null 2>&1
expect "--max-element-age 1: the check fails on the element set's age" \
    '[[ $(runlog_field aged/runlog.tsv "$work/in/day1.pkt" 9) == "qlrdump: check failed: the element-set epoch"* ]]'

# --- logs in a shared folder: links and files of another user -------------------
# Played as root with the user nobody: a joblog that is nobody's link to a
# victim file stops the run before any job; a run log that is nobody's link
# or file is not written, and the job still runs.
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null; then
    as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
    mkdir -p shared && chmod 777 shared && echo "the victim's bytes" > victim && chmod 600 victim
    echo "$work/in/elements.pkt" > shared.list
    as_nobody ln -s "$work/victim" shared/joblog
    "$src/jobs/trokparallel" shared.list elements.tle shared > /dev/null 2> shared.err
    status=$?
    expect "planted joblog: status 255 (got $status), said, no job ran" \
        '[ $status -eq 255 ] && grep -q "joblog: a link of another user" shared.err && [ ! -e shared/elements.eph ]'
    as_nobody rm shared/joblog && as_nobody ln -s "$work/victim" shared/runlog.tsv
    "$src/jobs/trokparallel" shared.list elements.tle shared > /dev/null 2> shared.err
    expect "planted run log: the job ran, the line refused" \
        'pairs_pass shared/elements && grep -q "runlog.tsv: a link of another user; the run line is not written" shared.err'
    as_nobody rm shared/runlog.tsv && as_nobody sh -c 'echo theirs > shared/runlog.tsv'
    "$src/jobs/trokparallel" shared.list elements.tle shared > /dev/null 2> shared.err
    expect "run log of another user: left as it was" '[ "$(cat shared/runlog.tsv)" = theirs ]'
    expect "planted logs: the victim untouched" \
        '[ "$(cat victim)" = "the victim'"'"'s bytes" ] && [ "$(stat -c %a victim)" = 600 ]'
else
    echo "logs in a shared folder: skipped (needs root, setpriv and the user nobody)"
fi

printf '%d passed, %d failed\n' "$passes" "$failures"
[ $failures -eq 0 ]
