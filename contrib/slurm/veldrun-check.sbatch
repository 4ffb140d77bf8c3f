#!/bin/bash
# Checks every GPU of every node of the job with Veldrun: one task per node,
# each node the job's alone, each node's run bounded by timeout(1), every line
# of the log prefixed with the node's name. The job fails when Veldrun fails,
# or does not finish in time, on any node; the other nodes finish their check
# all the same.
#
#   sbatch --nodes=4 --partition=gpu veldrun-check.sbatch
#   sbatch --nodelist='gpu[01-16]' --export=ALL,VELDRUN_SPEED=0,VELDRUN_PASSES=3 veldrun-check.sbatch
#
# Settings, from the environment sbatch passes on:
#   VELDRUN          the Veldrun binary on the nodes (default: Veldrun, from PATH)
#   VELDRUN_SPEED    the speed setting, 0, 1 or 2 (default: 2, the fastest)
#   VELDRUN_PASSES   the number of passes (default: 1)
#   VELDRUN_TIMEOUT  the limit of one node's run, as timeout(1) reads it
#                    (default: 30m); keep it below the job's --time, so that
#                    the log tells which node ran out of time
#
# --exclusive gives the job every GPU of its nodes, and the job step gets all
# the GPUs of the job; the first line of each node says which GPUs the step
# was given (CUDA_VISIBLE_DEVICES), and Veldrun's "deviceCount" line how many
# it found.
#SBATCH --job-name=veldrun-check
#SBATCH --ntasks-per-node=1
#SBATCH --exclusive
#SBATCH --time=00:40:00
#SBATCH --output=veldrun-check-%j.out

set -u -o pipefail

: "${VELDRUN:=Veldrun}" "${VELDRUN_SPEED:=2}" "${VELDRUN_PASSES:=1}" "${VELDRUN_TIMEOUT:=30m}"
export VELDRUN VELDRUN_SPEED VELDRUN_PASSES VELDRUN_TIMEOUT

# The check of one node, run there as the job step's one task.
veldrunNodeCheck() {
  local node=${SLURMD_NODENAME:-$(hostname -s)}
  local line status
  echo "$node: $VELDRUN $VELDRUN_SPEED $VELDRUN_PASSES, limit $VELDRUN_TIMEOUT, CUDA_VISIBLE_DEVICES=${CUDA_VISIBLE_DEVICES-(not set)}"
  timeout --kill-after=30s "$VELDRUN_TIMEOUT" "$VELDRUN" "$VELDRUN_SPEED" "$VELDRUN_PASSES" 2>&1 |
    while IFS= read -r line || [ -n "$line" ]; do printf '%s: %s\n' "$node" "$line"; done
  status=${PIPESTATUS[0]}
  case $status in
    0) echo "$node: Veldrun passed" ;;
    124) echo "$node: Veldrun did not finish within $VELDRUN_TIMEOUT" ;;
    *) echo "$node: Veldrun failed with status $status" ;;
  esac
  return "$status"
}
export -f veldrunNodeCheck

# A failing node must not cut the other nodes' checks short.
srun --ntasks-per-node=1 --kill-on-bad-exit=0 bash -c veldrunNodeCheck
status=$?
if [ "$status" -eq 0 ]; then
  echo "veldrun-check: every node passed"
else
  echo "veldrun-check: at least one node failed its check (srun status $status)"
fi
exit "$status"
