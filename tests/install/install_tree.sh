#!/bin/sh
# Installs the build into a temporary prefix and checks what lands there: both programs run from
# it and name the project's version, the manual pages render, the desktop entry and the AppStream
# description validate, the completion loads in bash, and the Python module imports from it.
# Exits 77 (skipped) when a tool the checks need is absent.
#
# Usage: install_tree.sh BUILD_DIR VERSION HELP2MAN [PYTHON]
#   HELP2MAN: the help2man the build found, if any; PYTHON: the interpreter the module is built for
set -u
build=$1
version=$2
python=${4:-}
case ${3:-} in
  ""|*NOTFOUND) echo "SKIPPED: help2man not found (the build made no manual pages)"; exit 77 ;;
esac
for tool in man desktop-file-validate appstreamcli bash; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool not found"; exit 77; }
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAILED: cmake --install"; exit 1; }

for program in pulsebench pulsebench-cli; do
  first=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$program" --version | head -n 1)
  [ "$first" = "$program $version" ] || fail "$program --version says \"$first\", not \"$program $version\""
done

for page in pulsebench pulsebench-cli; do
  file=$prefix/share/man/man1/$page.1.gz
  text=$(MANWIDTH=100 man -l "$file" 2>&1) || fail "man -l $file: $text"
  echo "$text" | grep -q "$page $version" || fail "$page(1) does not name version $version"
done
for command in ALPHABET SERIES PROCESS SIMULATE EXPERIMENT DETECT; do
  MANWIDTH=100 man -l "$prefix/share/man/man1/pulsebench-cli.1.gz" 2>/dev/null | grep -q "^ *COMMAND $command\$" ||
    fail "pulsebench-cli(1) has no section for ${command}"
done

desktop=$prefix/share/applications/org.pulsebench.PulseBench.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
grep -q '^MimeType=.*audio/x-wav;.*text/csv;' "$desktop" || fail "the desktop entry lacks the recordings' types"
appstreamcli validate --no-net "$prefix/share/metainfo/org.pulsebench.PulseBench.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate"
for icon in scalable/apps/pulsebench.svg 16x16/apps/pulsebench.png 48x48/apps/pulsebench.png 256x256/apps/pulsebench.png; do
  [ -s "$prefix/share/icons/hicolor/$icon" ] || fail "no icon $icon"
done
[ -s "$prefix/share/doc/pulsebench/README.md" ] && [ -s "$prefix/share/doc/pulsebench/docs/recording_view.png" ] ||
  fail "the README or its pictures are missing"

completion=$prefix/share/bash-completion/completions/pulsebench-cli
bash -c ". '$completion' && complete -p pulsebench-cli" >/dev/null || fail "the completion does not load"
offered=$(bash -c ". '$completion'; COMP_WORDS=(pulsebench-cli detect --te); COMP_CWORD=2; _pulsebench_cli; echo \"\${COMPREPLY[*]}\"")
[ "$offered" = "--template" ] || fail "pulsebench-cli detect --te completes to \"$offered\", not --template"

module=$prefix/lib/python3/dist-packages
if [ -n "$python" ]; then
  # A sanitized build's module needs the sanitizer's runtime loaded first (the interpreter is
  # not instrumented): PULSEBENCH_PYTHON_PRELOAD names it, for the interpreter alone.
  found=$(cd / && PYTHONPATH=$module LD_PRELOAD=${PULSEBENCH_PYTHON_PRELOAD:-} \
          ASAN_OPTIONS=${PULSEBENCH_PYTHON_PRELOAD:+detect_leaks=0} \
          "$python" -c 'import pulsebench; print(pulsebench.__version__, pulsebench.__file__)')
  case $found in
    "$version $module/pulsebench/"*) ;;
    *) fail "the installed Python module says \"$found\"" ;;
  esac
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed tree checked"
