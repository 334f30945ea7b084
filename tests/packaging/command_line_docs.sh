#!/usr/bin/env bash
# The manual page and the bash completion against the program's own usage: every command and
# option that `zelupdate --help` (and each command's --help) shows is in the manual page and
# is offered by the completion for its command; the completion's values and port names.
# Usage: command_line_docs.sh PROGRAM MANPAGE COMPLETION
set -uo pipefail
program=$1
manpage=$2
completion=$3
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

usage=$("$program" --help) || fail "zelupdate --help failed"
commands=$(sed -n 's/^  zelupdate \([a-z][a-z-]*\).*/\1/p' <<<"$usage" | sort -u)
[ -n "$commands" ] || fail "no commands found in zelupdate --help"
for command in $commands; do
  # A command's own --help, where it has one, may name more options.
  usage+=$'\n'$("$program" "$command" --help 2>/dev/null)
done

# Options per command as the usage groups them: the lines of "  zelupdate COMMAND ..." and
# those indented under them, and the blocks "COMMAND options:"; "common options:" belong to
# every command.
declare -A options_of
section=""
while IFS= read -r line; do
  if [[ $line =~ ^\ \ zelupdate\ ([a-z][a-z-]*) ]]; then
    section=${BASH_REMATCH[1]}
  elif [[ $line =~ ^\ \ zelupdate ]]; then
    section=window
  elif [[ $line =~ ^([a-z]+)\ options: ]]; then
    section=${BASH_REMATCH[1]}
  elif [[ $line =~ ^[^\ ] ]]; then
    section=""
  fi
  [ -n "$section" ] || continue
  for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$line"); do
    options_of[$section]+=" $option"
  done
done <<<"$usage"
all_options=$(grep -o -- '--[a-z][a-z0-9-]*' <<<"$usage" | sort -u)

# The manual page: hyphens are written \- in its source.
page=$(sed 's/\\-/-/g' "$manpage")
for command in $commands; do
  grep -Eq "^\.B zelupdate $command( |$)" <<<"$page" || fail "manual page: no synopsis of '$command'"
  grep -A1 '^\.TP' <<<"$page" | grep -Eq "^\.B[IR]? \"?$command( |\"|$)" ||
    fail "manual page: no entry for command '$command'"
done
for option in $all_options; do
  grep -Eq -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<<"$page" ||
    fail "manual page: option $option is missing"
done

# The completion, as bash calls it for the words typed so far (the cursor at the last one).
# shellcheck source=/dev/null
source "$completion"
complete_words() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMPREPLY=()
  _zelupdate zelupdate "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}
offers() {  # offers "WORDS TYPED" EXPECTED...
  local typed=$1 offered word
  shift
  offered=$(complete_words "$typed")
  for word in "$@"; do
    grep -Fxq -- "$word" <<<"$offered" || fail "completion of '$typed' lacks '$word'"
  done
}
offers "zelupdate " $commands
for command in $commands; do
  # shellcheck disable=SC2086
  offers "zelupdate $command --" $(printf '%s\n' ${options_of[$command]:-} ${options_of[common]} | sort -u)
done
offers "zelupdate ge" generate
offers "zelupdate run --option " none B1 B10 B20
offers "zelupdate run --memory-extension " yes no
offers "zelupdate run --port CO" COM1 COM5 COM15
offers "zelupdate history --port COM1" COM1 COM10
offers "zelupdate generate --port " 1 15
offers "zelupdate --settings x.ini run --d" --dry-run
offers "zelupdate explain 41" 414 416
offers "zelupdate explain F" FFFF
offers "zelupdate demo --speed " virtual
for device in /dev/ttyS0 /dev/serial/by-id/*; do
  [ -e "$device" ] && offers "zelupdate run --port /dev/" "$device"
done
# (That the explain codes are the program's own is checked against its table by test_cli.)

# The manual page's section SIMULATED INSTRUMENT has an entry for every key and every fault
# that a sim: port reads, as the program lists them in its message about an unknown one.
sim_section=$(sed -n '/^\.SH SIMULATED INSTRUMENT/,/^\.SH EXIT/p' <<<"$page")
[ -n "$sim_section" ] || fail "manual page: no section SIMULATED INSTRUMENT"
known_sim_names() {  # known_sim_names KEY=VALUE: the names listed after "known:"
  "$program" simulate --pty "$1" 2>&1 | sed -n 's/.*(known: \(.*\))$/\1/p' | tr ',' '\n' |
    sed 's/^ *//; s/=.*//'
}
entries=$(grep -A1 '^\.TP' <<<"$sim_section")
sim_keys=$(known_sim_names no-such-key=1)
sim_faults=$(known_sim_names fault=no-such-fault)
if [ -z "$sim_keys" ] || [ -z "$sim_faults" ]; then
  fail "simulate does not list the sim: keys and faults"
fi
for key in $sim_keys; do
  grep -Eq -- "(^\.B[IR]? |, )$key=" <<<"$entries" || fail "manual page: sim: key $key is missing"
done
for fault in $sim_faults; do
  grep -Eq -- "^\.B[IR]? $fault(=| |$)" <<<"$entries" ||
    fail "manual page: sim: fault $fault is missing"
done

if ((failures)); then
  echo "$failures failures"
  exit 1
fi
echo "manual page and completion cover $(wc -w <<<"$commands") commands and $(wc -w <<<"$all_options") options"
