#!/usr/bin/env bash
# Installs Veldrun into a temporary directory, with `cmake --install` (mode
# install) or from the .deb that cpack makes (mode deb), and checks what was
# installed: the files, the binary's run path, that the binary runs from
# there without any library path or the loader's cache, and that the man page
# renders without warnings.
#
# usage: installed_veldrun_test.sh install|deb CMAKE CPACK BUILD_DIR RUNPATH
set -euo pipefail

mode=$1 cmake=$2 cpack=$3 build=$4 runpath=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

case $mode in
install)
  if ! "$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
  fi
  prefix=$work/prefix
  ;;
deb)
  if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
  fi
  debs=("$work"/package/*.deb)
  if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: cpack made ${#debs[@]} .deb files: ${debs[*]}" >&2
    exit 1
  fi
  deb=${debs[0]}
  field() { dpkg-deb --field "$deb" "$1"; }
  [ "$(field Package)" = veldrun ] || fail "Package is '$(field Package)', not veldrun"
  [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
  [ -n "$(field Version)" ] || fail "no Version"
  [ -n "$(field Maintainer)" ] || fail "no Maintainer"
  [ -n "$(field Description)" ] || fail "no Description"
  depends=$(field Depends)
  # Every dependency must be a package Debian has: the C and C++ runtime,
  # never the CUDA libraries, which only NVIDIA's own packages provide.
  [[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "Depends lacks the C or C++ runtime: '$depends'"
  if grep -qiE 'cuda|cublas|nvidia' <<<"$depends"; then fail "Depends names a CUDA package: '$depends'"; fi
  dpkg-deb --extract "$deb" "$work/root"
  prefix=$work/root/usr
  ;;
*)
  echo "usage: $0 install|deb CMAKE CPACK BUILD_DIR RUNPATH" >&2
  exit 2
  ;;
esac

# Exactly these files, and nothing else.
expected='bin/Veldrun
libexec/veldrun/veldrun-drain.sh
share/man/man1/Veldrun.1.gz
share/veldrun/slurm/veldrun-check.sbatch'
actual=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$actual"))"
for script in bin/Veldrun libexec/veldrun/veldrun-drain.sh; do
  [ -x "$prefix/$script" ] || fail "$script is not executable"
done

binary=$prefix/bin/Veldrun
found_runpath=$(readelf --dynamic "$binary" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
[ "$found_runpath" = "$runpath" ] || fail "RUNPATH of the installed binary is '$found_runpath', not '$runpath'"

# Run through the loader with its cache off and no library path, so that the
# CUDA libraries can only be found through the run path.
loader=$(readelf --program-headers "$binary" | sed -n 's/.*Requesting program interpreter: \(.*\)\]$/\1/p')
[ -x "$loader" ] || fail "no program interpreter found in $binary"
run() { env -u LD_LIBRARY_PATH "$loader" --inhibit-cache "$binary" "$@" >"$work/out" 2>"$work/err"; }

status=0
run || status=$?
usage="usage: $binary <speed setting> <iterations>
Speed settings:
0 = iterate by 32 (default)
1 = iterate by 64
2 = iterate by 128 (fastest)"
[ "$status" -eq 1 ] || fail "without arguments: status $status, not 1; stderr: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "without arguments: standard output is not empty: $(cat "$work/out")"
[ "$(cat "$work/err")" = "$usage" ] || fail "without arguments: standard error is not the usage: $(cat "$work/err")"

if ldconfig -p | grep -q 'libcuda\.so\.1 '; then
  echo "the NVIDIA driver is installed here: the run without a GPU is not checked"
else
  status=0
  run 1 || status=$?
  [ "$status" -eq 1 ] || fail "without the driver: status $status, not 1"
  [ "$(cat "$work/out")" = "sizeof(double) is 8
deviceCount = 0
No suitable NVIDIA GPUs found. Aborting..." ] || fail "without the driver: standard output is: $(cat "$work/out")"
  [ ! -s "$work/err" ] || fail "without the driver: standard error is not empty: $(cat "$work/err")"
fi

# The man page renders without a warning, with its messages and commands as
# they are typed: plain ASCII hyphens, nothing hyphenated.
page=$prefix/share/man/man1/Veldrun.1.gz
if LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings --local-file "$page" >"$work/man.txt" 2>"$work/man.err"; then
  [ ! -s "$work/man.err" ] || fail "man warns: $(cat "$work/man.err")"
  for text in 'No suitable NVIDIA GPUs found. Aborting...' 'ERROR: Failed with device d. Veldrun FAILED.' \
    'timeout --kill-after=30s 30m Veldrun 2 1' 'Veldrun PASSED.' 'HOW LONG A PASS TAKES' 'EXIT STATUS'; do
    grep -qF -- "$text" "$work/man.txt" || fail "the rendered man page lacks '$text'"
  done
else
  fail "man could not render $page: $(cat "$work/man.err")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed Veldrun ($mode) checked"
