# A one-node Slurm cluster in a folder of its own, for tests: its own munge
# key and daemon, its own slurm.conf, state, spool, logs and ports, so that
# nothing under /etc or /run is needed and several can run side by side.
# Sourced by the cluster tests; needs bash, munge and Slurm's daemons.
#
#   cluster_start DIR   configures and starts munged, slurmctld and slurmd,
#                       exports SLURM_CONF, and waits until the node is idle
#   cluster_stop        stops the three daemons (safe to call twice)

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
