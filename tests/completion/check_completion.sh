#!/usr/bin/env bash
# Runs the bash completion functions on typed lines, as bash would call them,
# and compares the candidates offered.
# Usage: check_completion.sh COMPLETION_FILE RWSIM_PROGRAM [RWREPORT_PROGRAM [RWSTATION_PROGRAM]]
set -u
source "$1"
rwsim=$2
rwreport=${3:-}
rwstation=${4:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# Sets the completion variables as bash does for a line typed so far (it
# splits words at blanks and makes runs of ':' and '=' words of their own),
# calls the function registered for the command and prints the candidates.
complete_line() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$(sed -E 's/([:=]+)/ \1 /g' <<<"$line")"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | awk '{ print $3 }')
  "$function"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

expect() {
  local got
  got=$(complete_line "$1")
  [[ $got == "$2" ]] || {
    echo "FAIL: '$1': got '$got', want '$2'"
    failed=1
  }
}

# Option words at word positions, values after them.
expect "kestrow " "at b c d e f h ka kagi kb log rt s t v"
expect "brimlet k" "ka kagi kb"
expect "kestrow c COM1 t 10 " "at b c d e f h ka kagi kb log rt s t v"
expect "brimlet l" "log"
expect "kestrow c COM1 kagi o" "off on"
expect "brimlet s of" "off"
expect "kestrow t " ""
expect "kestrow c COM2" "COM2 COM20"
expect "kestrow comport COM1" "COM1 COM10 COM11 COM12 COM13 COM14 COM15 COM16 COM17 COM18 COM19"

# Device paths after c, from the devices present (replaced here).
_kestrow_serial_devices() {
  printf '%s\n' /dev/ttyUSB0 /dev/ttyS0 /dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0
}
expect "kestrow c /dev/tty" "/dev/ttyS0 /dev/ttyUSB0"
expect "brimlet c tty" "ttyS0 ttyUSB0"
expect "kestrow c /dev/serial/by-path/pci-0000:00:1" "14.0-usb-0:1:1.0-port0"
# Other paths (a simulator's link) and result files complete as files.
touch "$scratch/rw0"
expect "kestrow c $scratch/r" "$scratch/rw0"
expect "kestrow c COM1 f $scratch/" "$scratch/rw0"
# The event log after log; not after another word that begins with l.
touch "$scratch/events.jsonl"
expect "kestrow c COM1 log $scratch/e" "$scratch/events.jsonl"
expect "brimlet lo $scratch/e" ""

# rwsim: --options, their values, and files after --link=.
expect "rwsim --reader=s" "secured"
expect "rwsim --reader=" "=plain =secured"
expect "rwsim --fault=wrong" "wrong-auth@ wrong-code@ wrong-counter@ wrong-mac@"
expect "rwsim --trace --link=$scratch/r" "$scratch/rw0"
offered=$(complete_line "rwsim --" | tr ' ' '\n' | sed 's/=$//' | sort -u | paste -sd ' ')
listed=$("$rwsim" --help | grep -o -- '--[a-z][a-z-]*' | sort -u | paste -sd ' ')
[[ $offered == "$listed" ]] || {
  echo "FAIL: rwsim options offered '$offered', rwsim --help lists '$listed'"
  failed=1
}

# rwreport: its options, and files as inputs and after --html.
expect "rwreport --h" "--help --html"
expect "rwreport $scratch/e" "$scratch/events.jsonl"
expect "rwreport --csv $scratch/rw" "$scratch/rw0"
expect "rwreport --html $scratch/" "$scratch/events.jsonl $scratch/rw0"
expect "rwreport --html --" ""
# The --options offered for PROGRAM are those its --help lists.
expect_help_options() {  # name program
  [[ -n $2 ]] || return 0
  local offered listed
  offered=$(complete_line "$1 --")
  listed=$(
    { "$2" --help | grep -o -- '--[a-z][a-z-]*'; echo --help; echo --version; } |
      sort -u | paste -sd ' '
  )
  [[ $offered == "$listed" ]] || {
    echo "FAIL: $1 options offered '$offered', $1 --help lists '$listed'"
    failed=1
  }
}
expect_help_options rwreport "$rwreport"
# rwstation: its options, a folder after --session, the plan as a file.
mkdir "$scratch/sessions"
expect "rwstation --s" "--session --stop-wait"
expect "rwstation --session $scratch/s" "$scratch/sessions"
expect "rwstation --reader " ""
expect "rwstation --require 99 $scratch/e" "$scratch/events.jsonl"
expect_help_options rwstation "$rwstation"
exit $failed
