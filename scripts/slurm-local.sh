#!/usr/bin/env bash
# A one-node SLURM cluster on this machine, for the workflow's tests and for trying the SLURM
# profile without a cluster. Needs root: the daemons start jobs as their users.
#
#   scripts/slurm-local.sh start  [DIR]   install what is missing, configure, start, wait for the node
#   scripts/slurm-local.sh stop   [DIR]   cancel the cluster's jobs, end the daemons started here
#   scripts/slurm-local.sh status [DIR]   the daemons and the node; exit 1 when not running
#
# DIR (default /tmp/vanto-slurm) holds everything: slurm.conf, the munge key and socket, PID
# files, logs, state. The daemons listen on 127.0.0.1 only, on free ports chosen at the first
# start. Clients need `export SLURM_CONF=DIR/slurm.conf`, which start prints.
set -euo pipefail
# The daemons live in the system folders, which a plain user's or a bare CI's PATH may lack.
export PATH="$PATH:/usr/local/sbin:/usr/sbin:/sbin"

usage() { echo "usage: $0 start|stop|status [DIR]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
action=$1
dir=${2:-/tmp/vanto-slurm}
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac
dir=${dir%/}
conf=$dir/slurm.conf
export SLURM_CONF=$conf
DAEMONS=(munged slurmctld slurmd)
WAIT_SECONDS=${SLURM_LOCAL_WAIT:-60}

say() { echo "slurm-local: $*"; }
die() { echo "slurm-local: $*" >&2; exit 1; }

pid_file() {
    case $1 in
        munged) echo "$dir/munge/munged.pid" ;;
        *) echo "$dir/$1.pid" ;;
    esac
}

log_file() {
    case $1 in
        munged) echo "$dir/log/munged.log" ;;
        *) echo "$dir/log/$1.log" ;;
    esac
}

# The PID of a daemon started here and still running under its own name, or nothing.
running_pid() {
    local file pid
    file=$(pid_file "$1")
    pid=$( { tr -dc 0-9 < "$file"; } 2>/dev/null) || return 0
    [ -n "$pid" ] && [ -r "/proc/$pid/comm" ] && [ "$(cat "/proc/$pid/comm")" = "$1" ] && echo "$pid"
    return 0
}

log_tails() {
    local d
    for d in "${DAEMONS[@]}"; do
        [ -s "$(log_file "$d")" ] || continue
        echo "--- last lines of $(log_file "$d"):" >&2
        tail -n 15 "$(log_file "$d")" >&2
    done
}

fail_start() {
    echo "slurm-local: $*" >&2
    log_tails
    echo "slurm-local: the daemons still running are left so; '$0 stop $dir' ends them" >&2
    exit 1
}

install_missing() {
    local tool missing=()
    for tool in munged slurmctld slurmd sinfo; do
        command -v "$tool" > /dev/null || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing the SLURM and munge packages (missing: ${missing[*]})"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q > /dev/null
    apt-get install -y -q --no-install-recommends slurmctld slurmd slurm-client munge > /dev/null \
        || die "apt-get could not install slurmctld slurmd slurm-client munge"
}

free_ports() {
    python3 -c 'import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))'
}

configure() {
    mkdir -p "$dir/log" "$dir/state" "$dir/spool" "$dir/munge"
    chmod 755 "$dir" "$dir/munge"
    if [ ! -s "$dir/munge/munge.key" ]; then
        dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
    fi
    chmod 600 "$dir/munge/munge.key"
    [ -s "$conf" ] && return 0
    local host node ports
    host=$(hostname -s)
    node=$(slurmd -C | head -n 1)
    case $node in NodeName=*) ;; *) die "slurmd -C gave no node line: $node" ;; esac
    read -r -a ports <<< "$(free_ports)"
    cat > "$conf" <<EOF
# One-node cluster written by scripts/slurm-local.sh; everything lives under $dir.
ClusterName=vantolocal
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket.2
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SchedulerType=sched/backfill
MailProg=/bin/true
ReturnToService=2
MinJobAge=600
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
}

start_daemon() {
    local name=$1
    [ -n "$(running_pid "$name")" ] && return 0
    case $name in
        munged)
            munged --force --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket.2" \
                --pid-file="$(pid_file munged)" --log-file="$(log_file munged)" \
                --seed-file="$dir/munge/munged.seed" ;;
        slurmctld) slurmctld -f "$conf" ;;
        slurmd) slurmd -f "$conf" ;;
    esac || fail_start "$name did not start"
    local i
    for i in $(seq 50); do
        [ -n "$(running_pid "$name")" ] && return 0
        sleep 0.1
    done
    fail_start "$name started but left no running process behind $(pid_file "$name")"
}

node_state() {
    timeout 5 sinfo -h -N -o %t 2>/dev/null | head -n 1 || true
}

start() {
    [ "$(id -u)" -eq 0 ] || die "needs root (the daemons start jobs as their users): sudo $0 start $dir"
    install_missing
    configure
    local d
    for d in "${DAEMONS[@]}"; do
        start_daemon "$d"
    done
    local started=$SECONDS state=""
    while :; do
        for d in "${DAEMONS[@]}"; do
            [ -n "$(running_pid "$d")" ] || fail_start "$d ended while the node was coming up"
        done
        state=$(node_state)
        case $state in idle|mix|alloc) break ;; esac
        [ $((SECONDS - started)) -lt "$WAIT_SECONDS" ] \
            || fail_start "the node is not idle after $WAIT_SECONDS s (state: ${state:-no answer from sinfo})"
        sleep 0.5
    done
    say "node $(hostname -s) is $state: $(timeout 5 sinfo -h -N -o '%c CPUs, %m MB memory, partition %P')"
    echo "export SLURM_CONF=$conf"
}

stop() {
    local d pid i jobs
    if [ -s "$conf" ] && [ -n "$(running_pid slurmctld)" ]; then
        # The jobs of this cluster only: its own slurm.conf is in SLURM_CONF.
        jobs=$(timeout 5 squeue -h -o %i 2>/dev/null | tr '\n' ' ') || true
        if [ -n "${jobs// /}" ]; then
            # shellcheck disable=SC2086
            timeout 10 scancel $jobs > /dev/null 2>&1 || true
            say "cancelled jobs $jobs"
        fi
    fi
    for d in slurmd slurmctld munged; do
        pid=$(running_pid "$d")
        [ -n "$pid" ] || continue
        kill -TERM "$pid"
        for i in $(seq 100); do
            [ -n "$(running_pid "$d")" ] || break
            sleep 0.1
        done
        if [ -n "$(running_pid "$d")" ]; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
        rm -f "$(pid_file "$d")"
        say "stopped $d ($pid)"
    done
}

status() {
    local d pid rc=0
    for d in "${DAEMONS[@]}"; do
        pid=$(running_pid "$d")
        if [ -n "$pid" ]; then echo "$d: running ($pid)"; else echo "$d: not running"; rc=1; fi
    done
    if [ $rc -eq 0 ]; then
        timeout 5 sinfo -N -o '%N %t %c %m %P' || rc=1
        echo "export SLURM_CONF=$conf"
    fi
    return $rc
}

case $action in
    start) start ;;
    stop) stop ;;
    status) status ;;
    *) usage ;;
esac
