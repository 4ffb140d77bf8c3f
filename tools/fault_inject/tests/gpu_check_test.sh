#!/usr/bin/env bash
# Runs tools/gpu-check.sh without a GPU: its build tree is Veldrun on the
# simulated platform with the real fault-injection library, and nvidia-smi,
# compute-sanitizer and the memory helper are stand-ins that record how they
# were called. Each scenario checks the summary rows and the exit status.
#
# usage: gpu_check_test.sh SCENARIO GPU_CHECK SIM_VELDRUN STATIC_SIM_VELDRUN INJECT_LIBRARY
set -euo pipefail

scenario=$1
gpu_check=$2
sim_veldrun=$3
static_sim_veldrun=$4
inject_library=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export STUB_DIR=$work

fail() {
  echo "FAIL: $*" >&2
  echo "--- output of gpu-check ---" >&2
  cat "$work/run.out" >&2 2>/dev/null
  exit 1
}

mkdir -p "$work/bin"
cat >"$work/bin/nvidia-smi" <<'EOF'
#!/usr/bin/env bash
[ -z "${STUB_NVIDIA_SMI_FAILS:-}" ] || exit 9
echo "0, Simulated GPU 0, 000.00, 9.0, 96 MiB"
EOF
cat >"$work/bin/compute-sanitizer" <<'EOF'
#!/usr/bin/env bash
# Records its options and whether the memory helper is running, then runs
# the program and reports STUB_MEMCHECK_ERRORS errors.
echo "$*" >"$STUB_DIR/sanitizer.args"
if kill -0 "$(cat "$STUB_DIR/occupy.pid")" 2>/dev/null; then echo alive; else echo gone; fi >"$STUB_DIR/helper.during"
while [ $# -gt 0 ] && [ "${1#--}" != "$1" ]; do shift 2; done
"$@"
status=$?
echo "========= ERROR SUMMARY: ${STUB_MEMCHECK_ERRORS:-0} errors"
exit $status
EOF
chmod +x "$work/bin/nvidia-smi" "$work/bin/compute-sanitizer"
export PATH=$work/bin:$PATH

# make_tree DIR VELDRUN [failing]: a build tree as the script expects it.
make_tree() {
  local tree=$1 veldrun=$2
  mkdir -p "$tree/tools/fault_inject"
  ln -s "$veldrun" "$tree/Veldrun"
  ln -s "$inject_library" "$tree/tools/fault_inject/libveldrun_fault_inject.so"
  local helper=$tree/tools/fault_inject/veldrun_occupy_memory
  if [ "${3:-}" = failing ]; then
    printf '#!/usr/bin/env bash\necho "occupy_memory: no CUDA device: stub" >&2\nexit 1\n' >"$helper"
  else
    cat >"$helper" <<'EOF'
#!/usr/bin/env bash
echo "$*" >"$STUB_DIR/occupy.args"
echo $$ >"$STUB_DIR/occupy.pid"
echo "occupy_memory: device 0: holding 0 MiB, 96 MiB free"
echo "occupy_memory: ready"
exec sleep 300
EOF
  fi
  chmod +x "$helper"
}

# run_check EXPECTED_STATUS ARGUMENTS...
run_check() {
  local expected=$1
  shift
  local status=0
  bash "$gpu_check" "$@" >"$work/run.out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "gpu-check $* ended with status $status, not $expected"
}

# expect_rows RESULT NAME...: the summary has a RESULT row for each NAME.
expect_rows() {
  local result=$1
  shift
  for name in "$@"; do
    grep -qE "^\| $name \| $result \| [0-9]+\.[0-9]+ \| " "$work/run.out" || fail "no $result row for $name"
  done
}

expect_output() { grep -qF -- "$1" "$work/run.out" || fail "output lacks: $1"; }

controls=("wrong element" "wrong product" "allocation failure" "synchronisation failure")

case $scenario in
  all_pass)
    make_tree "$work/tree" "$sim_veldrun"
    run_check 0 --prebuilt "$work/tree"
    expect_rows PASS "Veldrun 2" "${controls[@]}" memcheck
    expect_output "gpu-check: 6 of 6 checks passed"
    expect_output "PASSED on 1 device(s): 0 Simulated GPU 0"
    expect_output 'wrong-element:384:100,200: FAILED with "Error: cublasDgemm returned an invalid result at location 100,200 in iteration 384 on device 0"'
    expect_output "gpu-check: GPU 0, Simulated GPU 0, 000.00, 9.0, 96 MiB"
    expect_output "no error; freeMem(MB) = 96 iterSize = 512"
    ! grep -q '^| build |' "$work/run.out" || fail "a prebuilt tree was reported as built"
    [ "$(cat "$work/sanitizer.args")" = "--tool memcheck $work/tree/Veldrun 2" ] || fail "sanitizer called as $(cat "$work/sanitizer.args")"
    [ "$(cat "$work/occupy.args")" = 2048 ] || fail "helper asked to leave $(cat "$work/occupy.args") MiB"
    [ "$(cat "$work/helper.during")" = alive ] || fail "the memory helper was not running during memcheck"
    ! kill -0 "$(cat "$work/occupy.pid")" 2>/dev/null || fail "the memory helper outlived the script"
    # Every run kept its streams.
    has_logs=$(find "$work/tree/gpu-check-logs" -name '*.out' | wc -l)
    [ "$has_logs" -eq 7 ] || fail "$has_logs logs of standard output, not 7"
    ;;
  several_devices)
    make_tree "$work/tree" "$sim_veldrun"
    VELDRUN_SIM_DEVICES=3 run_check 0 --prebuilt "$work/tree" --leave-mib 512 --log-dir "$work/logs"
    expect_rows PASS "Veldrun 2" "${controls[@]}" memcheck
    expect_output "PASSED on 3 device(s): 0 Simulated GPU 0; 1 Simulated GPU 1; 2 Simulated GPU 2"
    [ "$(cat "$work/occupy.args")" = 512 ] || fail "helper asked to leave $(cat "$work/occupy.args") MiB"
    [ -s "$work/logs/pass.out" ] || fail "no log in the directory given"
    ;;
  injection_missing)
    # The faults are injected, but a platform bound inside the executable
    # never sees them: every negative control must fail.
    make_tree "$work/tree" "$static_sim_veldrun"
    run_check 1 --prebuilt "$work/tree"
    expect_rows PASS "Veldrun 2" memcheck
    expect_rows FAIL "${controls[@]}"
    expect_output "wrong-element:384:100,200: status 0, not 1 (last output: Veldrun PASSED.)"
    expect_output "gpu-check: 2 of 6 checks passed"
    ;;
  extra_error_output)
    # A Veldrun that reports its verdicts but also writes an error it should
    # not: the plain run and every control must fail.
    cat >"$work/noisy_veldrun" <<EOF
#!/usr/bin/env bash
"$sim_veldrun" "\$@"
status=\$?
echo "Error: cublasDgemm failed!" >&2
exit \$status
EOF
    chmod +x "$work/noisy_veldrun"
    make_tree "$work/tree" "$work/noisy_veldrun"
    run_check 1 --prebuilt "$work/tree"
    expect_rows FAIL "Veldrun 2" "${controls[@]}"
    expect_output "error output: Error: cublasDgemm failed!"
    expect_output "other error output: Error: cublasDgemm failed!"
    ;;
  sanitizer_errors)
    make_tree "$work/tree" "$sim_veldrun"
    STUB_MEMCHECK_ERRORS=3 run_check 1 --prebuilt "$work/tree"
    expect_rows PASS "Veldrun 2" "${controls[@]}"
    expect_rows FAIL memcheck
    expect_output "memcheck reported: ========= ERROR SUMMARY: 3 errors"
    ! kill -0 "$(cat "$work/occupy.pid")" 2>/dev/null || fail "the memory helper outlived the script"
    ;;
  occupy_fails)
    make_tree "$work/tree" "$sim_veldrun" failing
    run_check 1 --prebuilt "$work/tree"
    expect_rows FAIL memcheck
    expect_output "the memory helper did not get ready: occupy_memory: no CUDA device: stub"
    [ ! -e "$work/sanitizer.args" ] || fail "memcheck ran without the memory held"
    ;;
  usage)
    make_tree "$work/tree" "$sim_veldrun"
    run_check 0 --help
    expect_output "usage: tools/gpu-check.sh"
    run_check 2 --frobnicate
    expect_output "gpu-check: unknown option --frobnicate"
    run_check 2 --leave-mib lots --prebuilt "$work/tree"
    run_check 2 --prebuilt "$work/no-such-tree"
    run_check 2 --prebuilt "$work/tree" 90
    run_check 2 --build-dir "$work/build" sm_90
    expect_output "'sm_90' is not a CUDA architecture list"
    STUB_NVIDIA_SMI_FAILS=1 run_check 2 --build-dir "$work/build"
    expect_output "give the architecture as the argument"
    [ ! -e "$work/build" ] || fail "a build was started"
    ;;
  *)
    fail "unknown scenario $scenario"
    ;;
esac
echo "gpu-check scenario $scenario: ok"
