#!/usr/bin/env bash
# Installs the build tree into a private folder and checks that every file
# lands where users and packages look for it, and that the installed
# programs and pages work from there.
# Usage: check_install.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for file in bin/kestrow bin/brimlet bin/rwsim bin/rwreport bin/rwstation \
  share/man/man1/kestrow.1 share/man/man1/brimlet.1 share/man/man1/rwsim.1 \
  share/man/man1/rwreport.1 share/man/man1/rwstation.1 share/doc/kestrow/station-example.plan \
  share/doc/kestrow/README.md share/doc/kestrow/LICENSE share/doc/kestrow/CHANGELOG.md \
  share/doc/kestrow/rwsim.md share/doc/kestrow/event-log.md \
  share/doc/kestrow/station-status.md share/doc/kestrow/station-status.schema.json \
  share/doc/kestrow/prometheus/README.md share/doc/kestrow/prometheus/prometheus.yml \
  share/doc/kestrow/prometheus/rules.yml share/doc/kestrow/prometheus/rules.test.yml \
  share/bash-completion/completions/kestrow share/bash-completion/completions/brimlet \
  share/bash-completion/completions/rwsim share/bash-completion/completions/rwreport \
  share/bash-completion/completions/rwstation; do
  [ -s "$prefix/$file" ] || fail "$file not installed"
done
for program in kestrow brimlet rwsim rwreport rwstation; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
"$prefix/bin/kestrow" v | grep -q 'Polling for Serial Port' || fail "installed kestrow v"
"$prefix/bin/rwsim" --version | grep -q '^rwsim [0-9]' || fail "installed rwsim --version"
"$prefix/bin/rwreport" --version | grep -q '^rwreport [0-9]' || fail "installed rwreport --version"
# The installed station runs the tools installed beside it.
out=$("$prefix/bin/rwstation" --session "$prefix/session" --reader "a brimlet c $prefix/none t 1")
grep -q "^a failed (cannot open $prefix/none" <<<"$out" || fail "installed rwstation: $out"
for page in kestrow rwreport rwstation; do
  MANPATH="$prefix/share/man" man -w $page 2>/dev/null | grep -q "^$prefix/" ||
    fail "man does not find the installed $page page"
done
exit $failed
