#!/bin/bash
# Checks the GPUs of this node with Veldrun and, when the check fails, drains
# the node in Slurm with a reason that says what failed. Run it as root on the
# node: as slurmd's health check, from an epilog, or by hand.
#
#   HealthCheckProgram=/usr/libexec/veldrun/veldrun-drain.sh
#   HealthCheckInterval=86400
#   HealthCheckNodeState=IDLE
#
# or, to check the node after every job (each check costs a Veldrun pass):
#
#   Epilog=/usr/libexec/veldrun/veldrun-drain.sh
#
# Its exit status is 0 when the node passed or has been drained, and 1 only
# when the node could not be drained, so that Slurm's own handling of a
# failing epilog still takes the node out of service.
#
# Settings, from the environment (slurmd passes none of its own; set them in
# a wrapper if the defaults do not fit):
#   VELDRUN          the Veldrun binary (default: Veldrun, from PATH)
#   VELDRUN_SPEED    the speed setting (default: 2, the fastest)
#   VELDRUN_PASSES   the number of passes (default: 1)
#   VELDRUN_TIMEOUT  the limit of the run, as timeout(1) reads it (default: 30m)
#   VELDRUN_NODE     the node's name in Slurm (default: SLURMD_NODENAME, which
#                    slurmd sets for an epilog, or else the short host name)
set -u -o pipefail

# slurmd runs its epilog and health check with hardly any environment.
PATH=${PATH:+$PATH:}/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

: "${VELDRUN:=Veldrun}" "${VELDRUN_SPEED:=2}" "${VELDRUN_PASSES:=1}" "${VELDRUN_TIMEOUT:=30m}"
node=${VELDRUN_NODE:-${SLURMD_NODENAME:-$(hostname -s)}}

output=$(timeout --kill-after=30s "$VELDRUN_TIMEOUT" "$VELDRUN" "$VELDRUN_SPEED" "$VELDRUN_PASSES" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$status" -eq 0 ]; then
  echo "$node: Veldrun passed"
  exit 0
fi

# The reason names the first line that tells what failed, or else the last
# line Veldrun (or timeout) wrote.
detail=$(grep -m 1 -E '^(Error|ERROR|cudaSetDevice|Could not|No suitable)' <<<"$output")
[ -n "$detail" ] || detail=$(tail -n 1 <<<"$output")
case $status in
  124) reason="Veldrun did not finish within $VELDRUN_TIMEOUT" ;;
  126 | 127) reason="Veldrun could not run (status $status): $detail" ;;
  *) reason="Veldrun failed (status $status): $detail" ;;
esac
reason=${reason:0:200}

if ! timeout 60 scontrol update NodeName="$node" State=DRAIN Reason="$reason"; then
  echo "$node: could not drain the node; reason: $reason" >&2
  exit 1
fi
echo "$node: drained: $reason"
exit 0
