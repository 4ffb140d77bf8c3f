#!/usr/bin/env bash
# Runs the Slurm recipe of contrib/slurm on a real one-node Slurm cluster on
# localhost: installs Debian's Slurm and munge where they are missing, writes
# a minimal configuration into a temporary directory, starts munged,
# slurmctld and slurmd, and then checks that
#   - the drain snippet leaves a node whose check passes in service;
#   - the batch script, submitted with sbatch --wait, fails on this machine
#     without a GPU, with Veldrun's own message in its log;
#   - the drain snippet, run by slurmd as the epilog of that job, drains the
#     node with its reason.
# Every daemon it started, and every process started under its cluster, is
# stopped by its process id on the way out, whatever the outcome.
#
# usage: run-slurm-test.sh [VELDRUN_BINARY]   (default: build/Veldrun)
# Needs root. Every wait is bounded; the whole test takes well under a minute
# once the packages are installed.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
veldrun=$(realpath "${1:-$repo/build/Veldrun}")
[ -x "$veldrun" ] || { echo "FAIL: no Veldrun binary at $veldrun" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "FAIL: the Slurm test must run as root" >&2; exit 1; }

if ! command -v slurmctld >/dev/null || ! command -v slurmd >/dev/null || ! command -v sbatch >/dev/null ||
  ! command -v munged >/dev/null; then
  timeout 300 apt-get update
  DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install -y --no-install-recommends slurm-wlm munge
fi

work=$(mktemp -d /tmp/veldrun-slurm.XXXXXX)
conf=$work/slurm.conf
daemons=()
outcome=failed

# Whether a process is still running (a zombie has ended).
alive() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
  [ "${state%% *}" != Z ]
}

# Stops processes by their ids: the terminate signal, up to 10 s of grace,
# then the kill signal.
stopProcesses() {
  local pid tick running
  [ $# -gt 0 ] || return 0
  kill -TERM "$@" 2>/dev/null
  for tick in $(seq 50); do
    running=()
    for pid in "$@"; do if alive "$pid"; then running+=("$pid"); fi; done
    [ ${#running[@]} -gt 0 ] || return 0
    sleep 0.2
  done
  kill -KILL "${running[@]}" 2>/dev/null
  return 0
}

# Processes started under this cluster (job scripts, job steps, epilogs, the
# programs they ran) carry its configuration in their environment.
clusterProcesses() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    [ "$pid" != $$ ] || continue
    # Kernel threads and processes that just ended have no readable environment.
    if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "SLURM_CONF=$conf"; then echo "$pid"; fi
  done
}

cleanup() {
  local status=$? pid tick leftover
  set +e
  if [ ${#daemons[@]} -gt 1 ]; then
    # Let Slurm end what still runs in the cluster first.
    SLURM_CONF=$conf timeout 10 scancel --full --quiet --user=root 2>/dev/null
    jobsLeft() { [ -n "$(SLURM_CONF=$conf timeout 5 squeue --noheader 2>/dev/null)" ]; }
    for tick in $(seq 50); do jobsLeft || break; sleep 0.2; done
  fi
  # What this script runs from here on must not look like the cluster's.
  unset SLURM_CONF
  stopProcesses "${daemons[@]}"
  for pid in "${daemons[@]}"; do wait "$pid" 2>/dev/null; done
  mapfile -t leftover < <(clusterProcesses)
  stopProcesses "${leftover[@]}"
  if [ "$outcome" != passed ]; then
    for log in "$work"/*.log "$work"/*.out; do
      [ -f "$log" ] || continue
      echo "---- $(basename "$log") (last 40 lines)" >&2
      tail -n 40 "$log" >&2
    done
  fi
  rm -rf "$work"
  left=$(clusterProcesses)
  if [ -n "$left" ]; then
    echo "FAIL: processes of the test cluster are still running: $left" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits up to SECONDS for COMMAND to succeed.
waitFor() {
  local seconds=$1 tick
  shift
  for tick in $(seq $((seconds * 5))); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.2
  done
  return 1
}

# A TCP port on localhost that nothing listens on.
freePort() {
  local port
  for port in $(shuf -i 20000-60000 -n 100); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# munge, with its own key and socket.
mungekey --create --keyfile="$work/munge.key"
munged --foreground --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munged.seed" \
  >"$work/munged.out" 2>&1 &
daemons+=($!)
munged_works() { munge --socket="$work/munge.socket" --no-input | unmunge --socket="$work/munge.socket"; }
waitFor 20 munged_works || fail "munged did not start"

node=$(hostname -s)
ctld_port=$(freePort)
slurmd_port=$(freePort)
[ "$ctld_port" != "$slurmd_port" ] || slurmd_port=$(freePort)
mkdir -p "$work/state" "$work/spool"

# The epilog, as an operator would install it, with the binary and settings
# of this test.
cat >"$work/epilog.sh" <<EOF
#!/bin/sh
export SLURM_CONF='$conf' VELDRUN='$veldrun' VELDRUN_TIMEOUT=60s
exec '$repo/contrib/slurm/veldrun-drain.sh' >>'$work/epilog.log' 2>&1
EOF
chmod 0755 "$work/epilog.sh"

# No systemd and no cgroups here: processes are tracked through /proc and
# tasks are not bound; everything runs as root.
cat >"$conf" <<EOF
ClusterName=veldruntest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
SwitchType=switch/none
MpiDefault=none
ReturnToService=2
Epilog=$work/epilog.sh
NodeName=$node NodeAddr=127.0.0.1 CPUs=1 State=UNKNOWN
PartitionName=check Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$conf

slurmctld -D >"$work/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D >"$work/slurmd.out" 2>&1 &
daemons+=($!)

nodeState() { timeout 10 sinfo --noheader --nodes="$node" --format=%T; }
nodeIdle() { [ "$(nodeState)" = idle ]; }
waitFor 60 nodeIdle || fail "the node did not come up idle (state: $(nodeState 2>&1))"
echo "slurm: one-node cluster up on $node (slurmctld port $ctld_port, slurmd port $slurmd_port)"

# A node whose check passes stays in service.
VELDRUN=true VELDRUN_NODE=$node timeout 60 "$repo/contrib/slurm/veldrun-drain.sh" >"$work/pass.log" 2>&1 ||
  fail "the drain snippet failed for a passing check: $(cat "$work/pass.log")"
grep -qxF "$node: Veldrun passed" "$work/pass.log" || fail "the drain snippet did not report the pass: $(cat "$work/pass.log")"
nodeIdle || fail "a passing check took the node out of service (state: $(nodeState))"

# The batch job fails here: no GPU.
# In the background, so that a signal to this script is handled at once.
status=0
(cd "$work" && exec timeout 120 sbatch --wait --parsable --output="$work/job-%j.out" \
  --export=ALL,VELDRUN="$veldrun",VELDRUN_TIMEOUT=60s "$repo/contrib/slurm/veldrun-check.sbatch") \
  >"$work/sbatch.txt" &
wait $! || status=$?
job=$(cat "$work/sbatch.txt")
[ -n "$job" ] || fail "sbatch submitted no job"
[ "$status" -ne 0 ] || fail "sbatch --wait reported success for a node without a GPU"
[ "$status" -ne 124 ] || fail "the job did not end within 120 s"
log=$work/job-$job.out
[ -f "$log" ] || fail "the job wrote no log"
grep -qxF "$node: No suitable NVIDIA GPUs found. Aborting..." "$log" || fail "the job log lacks Veldrun's message"
grep -qxF "$node: Veldrun failed with status 1" "$log" || fail "the job log does not say the node failed"
job_state=$(timeout 10 scontrol show job "$job" | grep -oE 'JobState=[A-Z_]+')
[ "$job_state" = JobState=FAILED ] || fail "the job ended as $job_state, not FAILED"
echo "slurm: job $job failed as it should (sbatch status $status):"
cat "$log"

# slurmd ran the drain snippet as the job's epilog.
reason="Veldrun failed (status 1): No suitable NVIDIA GPUs found. Aborting..."
nodeDrained() { [ "$(nodeState)" = drained ]; }
waitFor 60 nodeDrained || fail "the epilog did not drain the node (state: $(nodeState))"
found=$(timeout 10 sinfo --noheader --nodes="$node" --format=%E)
[ "$found" = "$reason" ] || fail "the node was drained with the reason '$found', not '$reason'"
timeout 10 scontrol show node "$node" | grep -F "Reason=$reason" >/dev/null || fail "scontrol shows another reason"
echo "slurm: node $node drained: $found"

outcome=passed
echo "slurm: the batch script and the drain snippet work on a real Slurm"
