#!/bin/bash
# A single-node Slurm cluster on this machine for the tests, and a command run
# on it:
#
#   cluster.sh DIR command [argument ...]
#
# Under DIR (made afresh): a munge key and munged on a private socket,
# slurmctld and slurmd (node "trok1") on 127.0.0.1 with a generated slurm.conf,
# free ports, no cgroups (proctrack/linuxproc, task/none). Job completion
# records go to DIR/jobcomp.txt (jobcomp/filetxt), which `sacct --completion`
# reads; no slurmdbd. The command runs with SLURM_CONF and TROK_CLUSTER_DIR
# set, once the node takes jobs. Every daemon started here is ended by its pid
# when the command ends, whatever the outcome; the exit status is the
# command's (or 1 when the cluster could not be started).
set -u

if [ $# -lt 2 ]; then
    echo "usage: cluster.sh DIR command [argument ...]" >&2
    exit 2
fi
dir=$1; shift

daemons=()   # pids of the daemons, ended in reverse order
stop_all() {
    local i p
    # Jobs still queued or running are cancelled first, while the daemons
    # can still end them: a job's slurmstepd outlives slurmd otherwise.
    if [ ${#daemons[@]} -ge 3 ] && [ -n "$(squeue -h -o %i 2>/dev/null)" ]; then
        scancel -u "$(id -un)" 2>/dev/null
        for _ in $(seq 1 60); do [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break; sleep 0.5; done
    fi
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        p=${daemons[i]}
        kill -TERM "$p" 2>/dev/null
        for _ in $(seq 1 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$p" 2>/dev/null
        wait "$p" 2>/dev/null
    done
    daemons=()
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() { echo "cluster.sh: $*" >&2; for f in munged.log slurmctld.log slurmd.log; do
    [ -f "$dir/$f" ] && { echo "--- $f" >&2; tail -n 15 "$dir/$f" >&2; }; done; exit 1; }

for p in munged mungekey slurmctld slurmd sinfo; do
    command -v "$p" >/dev/null || PATH=$PATH:/usr/sbin
    command -v "$p" >/dev/null || fail "$p not found (Debian: apt-get install slurm-wlm munge)"
done

rm -rf "$dir" && mkdir -p "$dir"/{munge,state,spool} || fail "cannot make $dir"
dir=$(cd "$dir" && pwd)
chmod 700 "$dir/munge"

# Two free ports on the loopback interface.
read -r ctlport dport < <(python3 - <<'EOF'
import socket
socks = []
for _ in range(2):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); socks.append(s)
print(*[s.getsockname()[1] for s in socks])
EOF
) || fail "cannot find free ports"

mungekey --create --keyfile="$dir/munge/munge.key" 2>/dev/null ||
    { head -c 1024 /dev/urandom > "$dir/munge/munge.key" && chmod 600 "$dir/munge/munge.key"; } ||
    fail "cannot make a munge key"
munged --foreground --force --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.sock" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed" \
    --num-threads=2 >>"$dir/munged.log" 2>&1 &
daemons+=($!)
for _ in $(seq 1 50); do [ -S "$dir/munge/munge.sock" ] && break; sleep 0.1; done
[ -S "$dir/munge/munge.sock" ] || fail "munged did not start"

user=$(id -un)
cat > "$dir/slurm.conf" <<EOF
ClusterName=troktest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctlport
SlurmdPort=$dport
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.sock
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/jobcomp.txt
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=5
InactiveLimit=0
MinJobAge=600
MaxArraySize=1001
SlurmdParameters=config_overrides
SlurmctldParameters=enable_configless
NodeName=trok1 NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=4 RealMemory=2000 State=UNKNOWN
PartitionName=trok Nodes=trok1 Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$dir/slurm.conf TROK_CLUSTER_DIR=$dir

slurmctld -D -i -f "$SLURM_CONF" >>"$dir/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -N trok1 -f "$SLURM_CONF" >>"$dir/slurmd.out" 2>&1 &
daemons+=($!)

ready=0
for _ in $(seq 1 60); do
    state=$(sinfo -h -n trok1 -o %t 2>/dev/null)
    case $state in idle*) ready=1; break ;; esac
    kill -0 "${daemons[1]}" 2>/dev/null || fail "slurmctld ended"
    kill -0 "${daemons[2]}" 2>/dev/null || fail "slurmd ended"
    sleep 0.5
done
[ $ready = 1 ] || fail "node trok1 not idle (state: ${state:-none})"

"$@"
