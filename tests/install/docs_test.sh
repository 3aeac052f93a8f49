#!/usr/bin/env bash
# The manual pages and the bash completion against the programs they
# describe, so neither drifts when a command or option is added or renamed:
#   - both pages format without a single groff warning;
#   - every option of `zoscsisrv --help` is described in zoscsisrv(8), and
#     the page describes no option the program does not have;
#   - every command of zoscsictl (walking `--help` of each level) has an
#     entry in zoscsictl(1), and every option of each command is mentioned;
#   - the completion offers exactly the commands of each level and every
#     option of each command, with and without the bash-completion helpers;
#   - the links between the pages of docs/ resolve.
# Environment: ZO_SOURCE_DIR, ZO_ZOSCSICTL, ZO_ZOSCSISRV (the built programs).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zo-docs-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
man_dir=$ZO_SOURCE_DIR/packaging/man
completion=$ZO_SOURCE_DIR/packaging/bash-completion/zoscsictl

# --- formatting -----------------------------------------------------------
for page in "$man_dir/zoscsictl.1" "$man_dir/zoscsisrv.8"; do
  groff -man -ww -z "$page" 2>"$work/groff.err" || fail "groff cannot format $page"
  [ ! -s "$work/groff.err" ] || { cat "$work/groff.err" >&2; fail "groff warns about $page"; }
  # Plain text, one line per item, as wide as it takes.
  groff -man -Tascii -P-cbou -rLL=250n "$page" 2>/dev/null >"$work/$(basename "$page").txt"
done
note "manual pages format without warnings"

# Options listed by a CLI11 or plain help text: "  --name ..." lines.
help_options() {
  { grep -oE '^ +(-h,)?--[a-z][a-z0-9-]*' || true; } | sed 's/^ *//; s/^-h,//' | { grep -vx -- '--help' || true; } |
    sort -u
}
# Words of the "Subcommands:" section of a CLI11 help text.
help_commands() { awk '/^Subcommands:/ { on = 1; next } on && /^$/ { exit } on && /^  [a-z]/ { print $1 }'; }

# --- zoscsisrv(8) ----------------------------------------------------------
"$ZO_ZOSCSISRV" --help >"$work/srv.help" 2>&1 || fail "zoscsisrv --help failed"
help_options <"$work/srv.help" >"$work/srv.options"
[ -s "$work/srv.options" ] || fail "no options found in zoscsisrv --help"
# Items of the page's OPTIONS section: "       --name ...".
awk '/^OPTIONS/ { on = 1; next } on && /^[A-Z]/ { exit } on && /^       --/' "$work/zoscsisrv.8.txt" |
  help_options >"$work/srv.documented"
if ! diff -u "$work/srv.options" "$work/srv.documented" >"$work/srv.diff"; then
  cat "$work/srv.diff" >&2
  fail "zoscsisrv(8) OPTIONS differ from zoscsisrv --help (- undocumented, + not in the program)"
fi
note "zoscsisrv(8) describes exactly the program's $(wc -l <"$work/srv.options") options"

# --- the zoscsictl command tree ------------------------------------------
"$ZO_ZOSCSICTL" --help >"$work/ctl.help" 2>&1 || fail "zoscsictl --help failed"
help_options <"$work/ctl.help" >"$work/ctl.globals"
help_commands <"$work/ctl.help" | sort >"$work/ctl.commands"
[ -s "$work/ctl.commands" ] || fail "no commands found in zoscsictl --help"
: >"$work/ctl.leaves"
while read -r command; do
  "$ZO_ZOSCSICTL" "$command" --help </dev/null >"$work/help.$command" 2>&1 || fail "zoscsictl $command --help failed"
  help_commands <"$work/help.$command" | sort >"$work/sub.$command"
  if [ -s "$work/sub.$command" ]; then
    while read -r sub; do echo "$command $sub" >>"$work/ctl.leaves"; done <"$work/sub.$command"
  else
    echo "$command" >>"$work/ctl.leaves"
  fi
done <"$work/ctl.commands"

# --- zoscsictl(1) ----------------------------------------------------------
awk '/^COMMANDS/ { on = 1; next } on && /^[A-Z]/ { exit } on' "$work/zoscsictl.1.txt" >"$work/ctl.section"
while read -r path; do
  grep -qE "^       $path( |\$)" "$work/ctl.section" || fail "zoscsictl(1) has no entry for '$path'"
  args=()
  read -r -a args <<<"$path"
  "$ZO_ZOSCSICTL" "${args[@]}" --help </dev/null >"$work/leaf.help" 2>&1 || fail "zoscsictl $path --help failed"
  help_options <"$work/leaf.help" >"$work/leaf.options"
  while read -r option; do
    grep -qF -- "$option" "$work/zoscsictl.1.txt" || fail "zoscsictl(1) does not mention $option of '$path'"
  done <"$work/leaf.options"
done <"$work/ctl.leaves"
while read -r option; do
  grep -qE -- "^       $option( |\$)" "$work/zoscsictl.1.txt" || fail "zoscsictl(1) does not describe $option"
done <"$work/ctl.globals"
note "zoscsictl(1) covers all $(wc -l <"$work/ctl.leaves") commands and their options"

# --- bash completion -----------------------------------------------------
bash -n "$completion" || fail "the completion script does not parse"
complete_words() {  # helpers (0|1), words of the command line, the last one being completed
  local helpers=$1
  shift
  bash -c '
    helpers=$1 completion=$2
    shift 2
    if [ "$helpers" = 1 ]; then source /usr/share/bash-completion/bash_completion; fi
    source "$completion"
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    _zoscsictl zoscsictl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' _ "$helpers" "$completion" "$@" </dev/null | grep -v '^$' | sort -u
}
modes=0
[ -r /usr/share/bash-completion/bash_completion ] && modes="0 1"
for helpers in $modes; do
  complete_words "$helpers" zoscsictl "" >"$work/got"
  diff -u "$work/ctl.commands" "$work/got" >&2 || fail "completion of the commands (helpers=$helpers)"
  complete_words "$helpers" zoscsictl --json "" >"$work/got"
  diff -u "$work/ctl.commands" "$work/got" >&2 || fail "completion of the commands after --json"
  complete_words "$helpers" zoscsictl -- >"$work/got"
  comm -23 "$work/ctl.globals" "$work/got" | grep . >&2 && fail "completion lacks global options"
  for command in $(cat "$work/ctl.commands"); do
    if [ -s "$work/sub.$command" ]; then
      complete_words "$helpers" zoscsictl "$command" "" >"$work/got"
      diff -u "$work/sub.$command" "$work/got" >&2 || fail "completion of '$command' sub-commands"
    fi
  done
  while read -r path; do
    args=()
    read -r -a args <<<"$path"
    "$ZO_ZOSCSICTL" "${args[@]}" --help </dev/null 2>&1 | help_options >"$work/leaf.options"
    complete_words "$helpers" zoscsictl "${args[@]}" x -- >"$work/got"
    comm -23 "$work/leaf.options" "$work/got" | grep . >&2 && fail "completion of '$path --' lacks options"
    comm -23 "$work/ctl.globals" "$work/got" | grep . >&2 && fail "completion of '$path --' lacks globals"
  done <"$work/ctl.leaves"
done
note "completion offers every command and option (modes: $modes)"
# --- the guide's cross references -----------------------------------------
# Every relative link between the pages of docs/ (as installed side by side)
# names a page that exists.
for page in "$ZO_SOURCE_DIR"/docs/*.md; do
  { grep -oE '\]\([A-Za-z0-9_.-]+\.md(#[^)]*)?\)' "$page" || true; } | sed -E 's/^\]\(([^)#]+).*/\1/' |
    while read -r target; do
      [ -e "$ZO_SOURCE_DIR/docs/$target" ] || fail "docs/$(basename "$page") links to $target, which does not exist"
    done
done
note "every link between the pages of docs/ resolves"
echo "docs test passed"
