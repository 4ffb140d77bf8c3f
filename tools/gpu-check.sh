#!/usr/bin/env bash
# Proves Veldrun on this machine's real GPUs, in a few minutes:
#   1. builds it for the GPUs found (or the architectures given);
#   2. requires "Veldrun 2" to pass, with status 0;
#   3. preloads the project's fault-injection library to make one element of
#      the product wrong, the whole product wrong, a device allocation fail
#      and the synchronisation fail, and requires each run to fail with
#      status 1 and Veldrun's message for that fault;
#   4. runs "Veldrun 2" under compute-sanitizer memcheck, with most GPU memory
#      held by a helper process so that the orders stay small, and requires
#      a pass with no error;
#   5. prints a summary table, one line per check.
# Exit status: 0 when every check passed, 1 when one failed, 2 when the
# checks could not start (bad arguments, no architecture to build for).
#
# Not -e: a failing step is a failed check, recorded in the table, and the
# other checks still run.
set -uo pipefail

usage() {
  cat <<'EOF'
usage: tools/gpu-check.sh [options] [ARCHITECTURES]

ARCHITECTURES   CMAKE_CUDA_ARCHITECTURES to build for, e.g. 90 or "80;90"
                (default: the compute capabilities nvidia-smi reports)
--build-dir DIR build in DIR (default: build-gpu-check in the repository)
--prebuilt DIR  skip the build and use the build tree DIR as it is
--leave-mib N   MiB of GPU memory left free for the memcheck pass (default 2048)
--log-dir DIR   keep each run's output in DIR (default: gpu-check-logs in the
                build tree)
-h, --help      print this text
EOF
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$root/build-gpu-check
prebuilt=""
architectures=""
leave_mib=2048
log_dir=""

cannot_start() {
  echo "gpu-check: $1" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) [ $# -ge 2 ] || cannot_start "--build-dir needs a directory"; build_dir=$2; shift 2 ;;
    --prebuilt) [ $# -ge 2 ] || cannot_start "--prebuilt needs a directory"; prebuilt=$2; shift 2 ;;
    --leave-mib) [ $# -ge 2 ] || cannot_start "--leave-mib needs a number"; leave_mib=$2; shift 2 ;;
    --log-dir) [ $# -ge 2 ] || cannot_start "--log-dir needs a directory"; log_dir=$2; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    -*) usage >&2; cannot_start "unknown option $1" ;;
    *) [ -z "$architectures" ] || cannot_start "more than one architecture argument"; architectures=$1; shift ;;
  esac
done
[[ $leave_mib =~ ^[0-9]+$ ]] || cannot_start "--leave-mib must be a number of MiB, not '$leave_mib'"

# The toolkit's tools, where a default install leaves them off the PATH.
command -v nvcc >/dev/null || [ ! -x /usr/local/cuda/bin/nvcc ] || PATH=/usr/local/cuda/bin:$PATH

if [ -n "$prebuilt" ]; then
  [ -d "$prebuilt" ] || cannot_start "no build tree at $prebuilt"
  [ -z "$architectures" ] || cannot_start "an architecture means nothing with --prebuilt"
  build_dir=$(cd "$prebuilt" && pwd)
else
  if [ -z "$architectures" ]; then
    # One entry per distinct compute capability: "9.0" becomes 90.
    capabilities=$(nvidia-smi --query-gpu=compute_cap --format=csv,noheader 2>/dev/null) ||
      cannot_start "nvidia-smi cannot report the GPUs' compute capability; give the architecture as the argument"
    architectures=$(tr -d '. \r' <<<"$capabilities" | sort -u | paste -sd ';' -)
  fi
  [[ $architectures =~ ^([0-9]+[af]?)(\;[0-9]+[af]?)*$|^(all|all-major|native)$ ]] ||
    cannot_start "'$architectures' is not a CUDA architecture list such as 90 or \"80;90\""
fi
[ -n "$log_dir" ] || log_dir=$build_dir/gpu-check-logs
mkdir -p "$log_dir" || cannot_start "cannot create $log_dir"
log_dir=$(cd "$log_dir" && pwd)

veldrun=$build_dir/Veldrun
inject_library=$build_dir/tools/fault_inject/libveldrun_fault_inject.so
occupy_memory=$build_dir/tools/fault_inject/veldrun_occupy_memory

# The memory helper runs beside the memcheck pass; it must not outlive the
# script, however the script ends.
occupy_pid=""
stop_occupy_memory() {
  if [ -n "$occupy_pid" ]; then
    kill "$occupy_pid" 2>/dev/null
    wait "$occupy_pid" 2>/dev/null
    occupy_pid=""
  fi
}
trap stop_occupy_memory EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The summary, one entry per check.
check_names=()
check_results=()
check_seconds=()
check_details=()
record() {
  check_names+=("$1")
  check_results+=("$2")
  check_seconds+=("$3")
  check_details+=("$4")
  printf 'gpu-check: %-24s %s  %s\n' "$1" "$2" "$4"
}

# run_logged NAME LIMIT COMMAND...: runs COMMAND with its streams in
# NAME.out and NAME.err, killed after LIMIT seconds. Leaves the exit status
# in run_status and the wall time, in seconds to a tenth, in run_seconds.
run_status=0
run_seconds=0
run_logged() {
  local name=$1 limit=$2
  shift 2
  local start
  start=$(date +%s%N)
  timeout --kill-after=10 "$limit" "$@" >"$log_dir/$name.out" 2>"$log_dir/$name.err"
  run_status=$?
  local tenths=$((($(date +%s%N) - start) / 100000000))
  run_seconds=$((tenths / 10)).$((tenths % 10))
}

# exit_problem LOG STATUS: why the run logged as LOG did not end with
# STATUS, or nothing when it did.
exit_problem() {
  if [ "$run_status" -eq 124 ] || [ "$run_status" -eq 137 ]; then
    echo "timed out"
  elif [ "$run_status" -ne "$2" ]; then
    echo "status $run_status, not $2 (last output: $(tail -n 1 "$log_dir/$1.out"))"
  fi
}

# has_line FILE LINE: FILE holds LINE as a whole line.
has_line() { grep -qxF -- "$2" "$1"; }

# The first line of the run's error stream, for a failure's detail.
first_error() { head -n 1 "$log_dir/$1.err"; }

echo "gpu-check: $(date -u '+%Y-%m-%d %H:%M UTC') on $(uname -n)"
gpus=$(nvidia-smi --query-gpu=index,name,driver_version,compute_cap,memory.total --format=csv,noheader 2>/dev/null) ||
  gpus="(nvidia-smi did not answer)"
while IFS= read -r gpu; do echo "gpu-check: GPU $gpu"; done <<<"$gpus"
toolkit=$(nvcc --version 2>/dev/null | grep -o 'release [0-9.]*, V[0-9.]*') || toolkit="(nvcc not found)"
echo "gpu-check: CUDA toolkit $toolkit"
echo "gpu-check: logs in $log_dir"

# 1. The build, of Veldrun and of the two tools the checks need.
if [ -z "$prebuilt" ]; then
  run_logged configure 600 cmake -S "$root" -B "$build_dir" -DVELDRUN_BUILD_TESTS=OFF -DVELDRUN_BUILD_TOOLS=ON \
    "-DCMAKE_CUDA_ARCHITECTURES=$architectures"
  configure_status=$run_status
  configure_seconds=$run_seconds
  build_status=1
  build_seconds=0
  if [ "$configure_status" -eq 0 ]; then
    run_logged build 1200 cmake --build "$build_dir" -j "$(nproc)"
    build_status=$run_status
    build_seconds=$run_seconds
  fi
  total=$(awk -v a="$configure_seconds" -v b="$build_seconds" 'BEGIN { printf "%.1f", a + b }')
  if [ "$configure_status" -ne 0 ]; then
    record build FAIL "$total" "configure failed: $(tail -n 1 "$log_dir/configure.err")"
  elif [ "$build_status" -ne 0 ]; then
    record build FAIL "$total" "build failed: $(grep -m 1 -i error "$log_dir/build.out")"
  else
    record build PASS "$total" "CMAKE_CUDA_ARCHITECTURES=$architectures"
  fi
fi

missing=()
for built in "$veldrun" "$inject_library" "$occupy_memory"; do
  [ -e "$built" ] || missing+=("$built")
done

# 2. The plain run: every device tested must complete, and nothing may be
# reported as an error.
check_pass() {
  run_logged pass 1200 env -u LD_PRELOAD -u VELDRUN_INJECT "$veldrun" 2
  local out=$log_dir/pass.out
  local problem
  problem=$(exit_problem pass 0)
  local started completed
  started=$(grep -c '^device = ' "$out")
  completed=$(grep -c '^Device [0-9]* completed successfully$' "$out")
  if [ -z "$problem" ] && [ "$(tail -n 1 "$out")" != "Veldrun PASSED." ]; then problem="no PASSED line"; fi
  if [ -z "$problem" ] && [ -s "$log_dir/pass.err" ]; then problem="error output: $(first_error pass)"; fi
  if [ -z "$problem" ] && { [ "$started" -eq 0 ] || [ "$completed" -ne "$started" ]; }; then
    problem="$completed of $started devices completed"
  fi
  if [ -n "$problem" ]; then
    record "Veldrun 2" FAIL "$run_seconds" "$problem"
    return
  fi
  local names
  names=$(sed -n 's/^Testing device \([0-9]*\): /\1 /p' "$out" | paste -sd ';' - | sed 's/;/; /g')
  record "Veldrun 2" PASS "$run_seconds" "PASSED on $started device(s): $names"
}

# 3. A negative control: check_control NAME RULE VALUE MESSAGE. The run with
# VELDRUN_INJECT=RULE must fail with status 1 and Veldrun's FAILED line, every
# line of its error stream must be MESSAGE (an extended regular expression,
# one line per device that reached the fault), and VALUE, when not empty,
# must be a line of its output.
check_control() {
  local name=$1 rule=$2 value=$3 message=$4
  local log=control-${rule%%:*}
  run_logged "$log" 300 env LD_PRELOAD="$inject_library" VELDRUN_INJECT="$rule" "$veldrun" 2
  local out=$log_dir/$log.out err=$log_dir/$log.err
  local problem
  problem=$(exit_problem "$log" 1)
  if [ -z "$problem" ] && ! tail -n 1 "$out" | grep -qxE 'ERROR: Failed with device [0-9]+\. Veldrun FAILED\.'; then
    problem="no FAILED line (last output: $(tail -n 1 "$out"))"
  fi
  if [ -z "$problem" ] && ! grep -qxE -- "$message" "$err"; then
    problem="message missing; error output: $(first_error "$log")"
  fi
  if [ -z "$problem" ] && grep -vqxE -- "$message" "$err"; then
    problem="other error output: $(grep -m 1 -vxE -- "$message" "$err")"
  fi
  if [ -z "$problem" ] && [ -n "$value" ] && ! has_line "$out" "$value"; then
    problem="value $value missing from the output"
  fi
  if [ -n "$problem" ]; then
    record "$name" FAIL "$run_seconds" "$rule: $problem"
  else
    record "$name" PASS "$run_seconds" "$rule: FAILED with \"$(first_error "$log")\""
  fi
}

# 4. memcheck, with all but leave_mib MiB of every GPU held by the helper.
check_memcheck() {
  local sanitizer=""
  if command -v compute-sanitizer >/dev/null; then
    sanitizer=$(command -v compute-sanitizer)
  elif command -v nvcc >/dev/null; then
    sanitizer=$(dirname "$(command -v nvcc)")/compute-sanitizer
  fi
  if [ -z "$sanitizer" ] || [ ! -x "$sanitizer" ]; then
    record memcheck FAIL 0.0 "compute-sanitizer not found"
    return
  fi
  "$occupy_memory" "$leave_mib" >"$log_dir/occupy.out" 2>"$log_dir/occupy.err" &
  occupy_pid=$!
  local waited=0
  while ! has_line "$log_dir/occupy.out" "occupy_memory: ready"; do
    if ! kill -0 "$occupy_pid" 2>/dev/null || [ "$waited" -ge 600 ]; then
      local reason
      reason=$(head -n 1 "$log_dir/occupy.err")
      stop_occupy_memory
      record memcheck FAIL 0.0 "the memory helper did not get ready: ${reason:-no reason given}"
      return
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  run_logged memcheck 900 env -u LD_PRELOAD -u VELDRUN_INJECT "$sanitizer" --tool memcheck "$veldrun" 2
  stop_occupy_memory
  local out=$log_dir/memcheck.out
  local problem
  problem=$(exit_problem memcheck 0)
  if [ -z "$problem" ] && ! has_line "$out" "Veldrun PASSED."; then problem="no PASSED line"; fi
  if [ -z "$problem" ] && ! cat "$out" "$log_dir/memcheck.err" | grep -qx '========= ERROR SUMMARY: 0 errors'; then
    problem="memcheck reported: $(cat "$out" "$log_dir/memcheck.err" | grep -m 1 'ERROR SUMMARY' || echo 'no summary')"
  fi
  if [ -n "$problem" ]; then
    record memcheck FAIL "$run_seconds" "$problem"
  else
    record memcheck PASS "$run_seconds" "no error; $(grep -m 1 '^freeMem(MB)' "$out" | tr -s ' ')"
  fi
}

if [ ${#missing[@]} -gt 0 ]; then
  record "built files" FAIL 0.0 "missing: ${missing[*]}"
else
  check_pass
  check_control "wrong element" "wrong-element:384:100,200" "772.000000" \
    'Error: cublasDgemm returned an invalid result at location 100,200 in iteration 384 on device [0-9]+'
  # 2n * (1 + 2^-20) + 3 at n = 256, wrong in every element.
  check_control "wrong product" "dgemm-alpha:256" "515.000488" \
    'Error: cublasDgemm returned an invalid result at location 0,0 in iteration 256 on device [0-9]+'
  check_control "allocation failure" "alloc-fail:B:384" "" 'Error: cublasAlloc\(B\) failed at i = 384'
  check_control "synchronisation failure" "sync-fail:256" "" \
    'Error: cudaThreadSynchronize returned unspecified launch failure'
  check_memcheck
fi

failed=0
echo
echo "| check | result | seconds | detail |"
echo "|---|---|---|---|"
for i in "${!check_names[@]}"; do
  echo "| ${check_names[$i]} | ${check_results[$i]} | ${check_seconds[$i]} | ${check_details[$i]} |"
  [ "${check_results[$i]}" = PASS ] || failed=$((failed + 1))
done
echo
echo "gpu-check: $((${#check_names[@]} - failed)) of ${#check_names[@]} checks passed"
[ "$failed" -eq 0 ] || exit 1
exit 0
