# A one-node Slurm cluster in a folder of its own, for tests: its own munge
# key and daemon, its own slurm.conf, state, spool, logs and ports, so that
# nothing under /etc or /run is needed and several can run side by side.
# Sourced by the cluster tests; needs bash, munge and Slurm's daemons.
#
#   cluster_start DIR   configures and starts munged, slurmctld and slurmd,
#                       exports SLURM_CONF, and waits until the node is idle
#   cluster_stop        stops the three daemons (safe to call twice)
#   cluster_test_begin NAME [TOOL...]
#                       what every cluster test does first: skips (exit 77)
#                       without root or without the daemons, munge, python3,
#                       ffmpeg and ffprobe or a further TOOL; makes the test's
#                       folder $work, removed at the end with the cluster
#                       stopped (its logs and the jobs' shown on a failure);
#                       defines fail MESSAGE
#   submit SBATCH-ARGS  sbatch, its log in $work/logs; prints the job's id
#   wait_jobs ID...     waits until none of the jobs is queued or running

cluster_dir=""

# A TCP port nothing listens on now, chosen by the kernel.
cluster_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

cluster_log() {
    echo "cluster: $*" >&2
}

# Runs a command until it succeeds, at most $1 seconds.
cluster_wait() {
    local limit="$1" start
    shift
    start=$SECONDS
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS - start > limit)); then
            return 1
        fi
        sleep 0.5
    done
}

cluster_stop_daemon() {
    local pidfile="$1" pid
    [ -s "$pidfile" ] || return 0
    pid="$(cat "$pidfile")"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 40); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.25
    done
    kill -KILL "$pid" 2>/dev/null || true
}

cluster_stop() {
    [ -n "$cluster_dir" ] || return 0
    # Jobs first, so that slurmd has no step daemons left behind.
    scancel --full --quiet --user="$(id -un)" 2>/dev/null || true
    cluster_stop_daemon "$cluster_dir/slurmd.pid"
    cluster_stop_daemon "$cluster_dir/slurmctld.pid"
    cluster_stop_daemon "$cluster_dir/munged.pid"
    cluster_dir=""
}

cluster_show_logs() {
    local log
    for log in munged slurmctld slurmd; do
        if [ -f "$cluster_dir/$log.log" ]; then
            echo "--- $log.log (last lines)" >&2
            tail -n 30 "$cluster_dir/$log.log" >&2
        fi
    done
}

cluster_start() {
    cluster_dir="$1"
    local d="$cluster_dir" host cpus
    host="$(hostname -s)"
    cpus="$(nproc)"
    mkdir -p "$d/state" "$d/spool" "$d/munge"
    chmod 700 "$d/munge"

    dd if=/dev/urandom of="$d/munge/munge.key" bs=1024 count=1 status=none
    chmod 400 "$d/munge/munge.key"
    munged --force --key-file="$d/munge/munge.key" --socket="$d/munge/munge.socket" \
        --pid-file="$d/munged.pid" --log-file="$d/munged.log" --seed-file="$d/munge/seed" ||
        return 1

    cat >"$d/slurm.conf" <<EOF
ClusterName=norvtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(cluster_free_port)
SlurmdPort=$(cluster_free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$d/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldLogFile=$d/slurmctld.log
SlurmdLogFile=$d/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
KillWait=10
MinJobAge=600
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF="$d/slurm.conf"
    slurmctld -f "$SLURM_CONF" -i || return 1
    slurmd -f "$SLURM_CONF" || return 1
    if ! cluster_wait 60 cluster_node_idle "$host"; then
        cluster_log "the node did not come up"
        cluster_show_logs
        return 1
    fi
}

cluster_node_idle() {
    sinfo --noheader --nodes="$1" --format=%T | grep -qx idle
}

cluster_test_begin() {
    cluster_test_name="$1"
    shift
    export PATH="$PATH:/usr/sbin:/sbin" # the daemons, for a shell whose PATH lacks them
    local tool
    for tool in munged slurmctld slurmd sbatch squeue scontrol python3 ffmpeg ffprobe "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "$cluster_test_name: skipped, $tool is not installed (scripts/install-deps installs it)"
            exit 77
        fi
    done
    if [ "$(id -u)" != 0 ]; then
        # slurmd starts every job's processes as the job's user: it runs as root.
        echo "$cluster_test_name: skipped, the cluster's daemons need root"
        exit 77
    fi
    work="$(mktemp -d "${TMPDIR:-/tmp}/norv-$cluster_test_name.XXXXXX")"
    trap cluster_test_finish EXIT
    trap 'exit 130' INT TERM
}

cluster_test_finish() {
    local status=$? log
    if ((status != 0)) && [ -n "$cluster_dir" ]; then
        cluster_show_logs
        for log in "$work"/logs/*; do
            [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
        done
    fi
    cluster_stop
    rm -rf "$work"
    exit "$status"
}

fail() {
    echo "$cluster_test_name: FAIL: $*" >&2
    exit 1
}

submit() {
    sbatch --parsable --output="$work/logs/%x_%A_%a.out" "$@"
}

wait_jobs() {
    local start=$SECONDS
    while [ -n "$(squeue --noheader --jobs="$(IFS=,; echo "$*")" 2>/dev/null)" ]; do
        ((SECONDS - start < 240)) || fail "jobs $* did not end"
        sleep 0.5
    done
}
