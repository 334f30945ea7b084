#!/usr/bin/env bash
# Each command's own --help, the manual page and the bash completion name the same options:
# an option found in one and not in the others fails, for every command the overview lists.
# Then the completion's values, and that every command's help and a usage error behave.
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
sorted() { tr ' ' '\n' | sed '/^$/d' | sort -u | tr '\n' ' '; }

overview=$("$program" --help) || fail "zelupdate --help failed"
commands=$(sed -n 's/^  zelupdate \([a-z][a-z-]*\).*/\1/p' <<<"$overview" | sort -u)
[ -n "$commands" ] || fail "no commands found in zelupdate --help"

# The options of a command's help: the names at the start of its option rows.
help_options() {
  sed -n 's/^  \(-[^ ]*\).*/\1/p' <<<"$1" | tr ',' '\n' | sorted
}

# The manual page, hyphens as typed: a command's options are those of its synopsis lines
# (from ".B zelupdate COMMAND" to the next .br) and the common options.
page=$(sed 's/\\-/-/g' "$manpage")
common_section=$(sed -n '/^\.SH COMMON OPTIONS/,/^\.SH /p' <<<"$page")
common_options=$(grep -A1 '^\.TP' <<<"$common_section" | grep -Eo -- '--?[a-z][a-z0-9-]*' |
  grep -vx -- '--version' | sorted)
man_options() {
  local synopsis
  synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH /p' <<<"$page" |
    awk -v cmd="$1" '/^\.B zelupdate / { on = ($3 == cmd) } on { print } /^\.br/ { on = 0 }')
  echo "$(grep -o -- '--[a-z][a-z0-9-]*' <<<"$synopsis") $common_options" | sorted
}

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

# Every option of a command in all three, each a described entry of the manual page too.
described=$(grep -A1 '^\.TP' <<<"$page" | grep -Eo -- '--?[a-z][a-z0-9-]*' | sort -u)
option_count=0
for command in $commands; do
  usage=$("$program" "$command" --help) || fail "zelupdate $command --help failed"
  [ "$("$program" "$command" -h)" = "$usage" ] || fail "zelupdate $command -h differs from --help"
  [ "$("$program" help "$command")" = "$usage" ] || fail "zelupdate help $command differs"
  grep -q "^Usage: zelupdate $command " <<<"$usage" || fail "zelupdate $command --help: no usage"
  from_help=$(help_options "$usage")
  from_man=$(man_options "$command")
  from_completion=$(complete_words "zelupdate $command -" | sorted)
  [ "$from_help" = "$from_man" ] ||
    fail "$command: --help has [$from_help], the manual page [$from_man]"
  [ "$from_help" = "$from_completion" ] ||
    fail "$command: --help has [$from_help], the completion [$from_completion]"
  for option in $from_help; do
    grep -Fxq -- "$option" <<<"$described" || fail "manual page: no entry for $option"
    option_count=$((option_count + 1))
  done
  # A usage error: exit 2 and one line that names the command.
  err=$("$program" "$command" --no-such-option 2>&1 >/dev/null)
  status=$?
  [ "$status" -eq 2 ] || fail "zelupdate $command --no-such-option: exit $status, not 2"
  [ "$(wc -l <<<"$err")" -eq 1 ] && [[ $err == "zelupdate $command: unknown option"* ]] ||
    fail "zelupdate $command --no-such-option said: $err"
done
for command in $commands; do
  grep -Eq "^\.B zelupdate $command( |$)" <<<"$page" || fail "manual page: no synopsis of '$command'"
done
grep -q '^\.SH SIMULATED INSTRUMENT' <<<"$page" || fail "manual page: no SIMULATED INSTRUMENT"

offers() { # offers "WORDS TYPED" EXPECTED...
  local typed=$1 offered word
  shift
  offered=$(complete_words "$typed")
  for word in "$@"; do
    grep -Fxq -- "$word" <<<"$offered" || fail "completion of '$typed' lacks '$word'"
  done
}
offers "zelupdate " $commands
offers "zelupdate help " $commands
offers "zelupdate ge" generate
offers "zelupdate run --option " none B1 B10 B20
offers "zelupdate run --memory-extension " yes no
offers "zelupdate run --port CO" COM1 COM5 COM15
offers "zelupdate history --port COM1" COM1 COM10
offers "zelupdate generate --port " 1 15
offers "zelupdate --settings x.ini run --d" --dry-run
offers "zelupdate explain 41" 414 416
offers "zelupdate explain F" FFFF
offers "zelupdate explain --decimal 128" 1281
offers "zelupdate explain --decimal -" -1 -2
offers "zelupdate demo --speed " virtual
offers "zelupdate run --backup /" /tmp
offers "zelupdate backup /" /tmp
offers "zelupdate restore /" /tmp
for device in /dev/ttyS0 /dev/serial/by-id/*; do
  [ -e "$device" ] && offers "zelupdate run --port /dev/" "$device"
done
# (That the explain codes are the program's own is checked against its table by test_cli.)

# The manual page's section SIMULATED INSTRUMENT has an entry for every key and every fault
# that a sim: port reads, as the program lists them in its message about an unknown one.
sim_section=$(sed -n '/^\.SH SIMULATED INSTRUMENT/,/^\.SH EXIT/p' <<<"$page")
[ -n "$sim_section" ] || fail "manual page: no section SIMULATED INSTRUMENT"
known_sim_names() {  # known_sim_names KEY=VALUE: the names listed after "known:"
  "$program" simulate --pty "$1" 2>&1 | sed -n 's/.*(known: \([^)]*\)).*/\1/p' | tr ',' '\n' |
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
echo "help, manual page and completion agree on $(wc -w <<<"$commands") commands and" \
  "$option_count options"
