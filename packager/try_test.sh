#!/usr/bin/env bash
# `marlowick try` under wine, and a signed installer that still installs:
#   1. the sample product built with a [signing] table (a certificate made here) and a version
#      given with -D verifies, and `try` builds and installs it with the same -D;
#   2. a program that writes through a null pointer is reported as a crash (exit 4) at once,
#      not after the time-out;
#   3. SIGTERM during a run leaves no Xvfb, no wine process and no prefix behind.
#   try_test.sh DIST_DIR SOURCE_DIR
set -uo pipefail
dist=${1:?usage: try_test.sh DIST_DIR SOURCE_DIR}
src=${2:?usage: try_test.sh DIST_DIR SOURCE_DIR}
marlowick=$dist/marlowick

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Processes whose environment names a folder (wine programs, wine servers, Xvfb get the
# session's TMPDIR from marlowick).
processes_using() {
  grep -l -s -F "$1" /proc/[0-9]*/environ 2>/dev/null | grep -v "/proc/$$/" | wc -l
}

# ---- 1. signed, then installed
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 7 \
  -subj "/CN=Marlowick try test" 2>/dev/null || fail "openssl could not make a certificate"
mkdir -p "$work/product"
cp -r "$src/examples/sample/." "$work/product/"
printf '\n[signing]\ncertificate = "%s"\nkey = "%s"\n' "$work/cert.pem" "$work/key.pem" >>"$work/product/project.toml"
# The version comes from the command line (-D), in the build and in try's own build.
sed -i 's/^version = .*/version = "${SAMPLE_VERSION}"/' "$work/product/project.toml"
if ! "$marlowick" build -q -D SAMPLE_VERSION=9.8.7 "$work/product/project.toml" -o "$work/out/signed.exe"; then
  fail "the signed build failed"
fi
verdict=$("$marlowick" verify "$work/out/signed.exe")
code=$?
echo "$verdict"
[ $code -eq 0 ] || fail "verify of the signed installer exited $code"
grep -q "signature: matches the installer's bytes" <<<"$verdict" || fail "verify does not report a matching signature"
mkdir -p "$work/tmp1"
env -u DISPLAY TMPDIR="$work/tmp1" "$marlowick" try "$work/product/project.toml" -D SAMPLE_VERSION=9.8.7 \
  >"$work/signed.log" 2>&1
code=$?
[ $code -eq 0 ] || { cat "$work/signed.log"; fail "the signed project did not install (try exited $code)"; }
grep -q "Result: installation complete" "$work/signed.log" || fail "try did not report a complete installation"
grep -q "DisplayVersion.*9\.8\.7" "$work/signed.log" || { cat "$work/signed.log"; fail "try's build did not take -D"; }

# ---- Two tiny programs without a C runtime
cat >"$work/crash.c" <<'EOF'
void __stdcall start(void) { *(volatile int*)0 = 1; }
EOF
cat >"$work/sleeper.c" <<'EOF'
__declspec(dllimport) void __stdcall Sleep(unsigned long);
void __stdcall start(void) { for (;;) Sleep(1000); }
EOF
for p in crash sleeper; do
  i686-w64-mingw32-gcc -O2 -nostdlib -Wl,-e,_start@0 -Wl,--subsystem,windows -o "$work/$p.exe" "$work/$p.c" \
    -lkernel32 || fail "cannot build $p.exe"
done

# ---- 2. a crash
mkdir -p "$work/tmp2"
started=$SECONDS
env -u DISPLAY TMPDIR="$work/tmp2" "$marlowick" try "$work/crash.exe" --timeout 600 >"$work/crash.log" 2>&1
code=$?
echo "crash: try exited $code after $((SECONDS - started)) s"
[ $code -eq 4 ] || { cat "$work/crash.log"; fail "a crash gave exit $code, not 4"; }
grep -q "Result: the installer CRASHED: wine: Unhandled page fault" "$work/crash.log" || fail "the crash is not named"
[ -z "$(ls -A "$work/tmp2")" ] || fail "the crashed run left $(ls -A "$work/tmp2") behind"

# ---- 3. SIGTERM in the middle of a run
mkdir -p "$work/tmp3"
env -u DISPLAY TMPDIR="$work/tmp3" "$marlowick" try "$work/sleeper.exe" --timeout 600 >"$work/term.log" 2>&1 &
pid=$!
# Wait until the program runs under wine: a process of the session besides marlowick's own.
for _ in $(seq 1 300); do
  [ "$(processes_using "$work/tmp3")" -ge 4 ] && grep -q "marlowick try: sleeper.exe" "$work/term.log" && break
  sleep 1
done
sleep 3
display=$(sed -n 's/^started Xvfb on display \(:[0-9]*\)$/\1/p' "$work/term.log")
running=$(processes_using "$work/tmp3")
echo "before SIGTERM: $running processes of the session, Xvfb on ${display:-none}"
kill -TERM "$pid"
wait "$pid"
code=$?
cat "$work/term.log"
echo "after SIGTERM: try exited $code"
[ $code -eq 143 ] || fail "SIGTERM gave exit $code, not 143 (ended by the signal)"
left=$(processes_using "$work/tmp3")
[ "$left" -eq 0 ] || fail "$left processes of the session still run"
[ -z "$(ls -A "$work/tmp3")" ] || fail "SIGTERM left $(ls -A "$work/tmp3") behind"
if [ -n "$display" ] && [ -e "/tmp/.X11-unix/X${display#:}" ]; then fail "Xvfb $display still runs"; fi
[ -n "$display" ] || fail "try started no Xvfb of its own"

if [ $failures -ne 0 ]; then
  echo "try_test: $failures failures" >&2
  exit 1
fi
echo "try_test: all passed"
