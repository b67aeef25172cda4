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

# Bash's own word-break characters, whatever the environment says.
COMP_WORDBREAKS=$' \t\n"\'@><=;|&(:'
# The options a completion function asks for (outside a real completion
# compopt only fails).
compopt() { [[ " $* " == *" nospace "* ]] && nospace=1; return 0; }

# Sets the completion variables as bash does for a line typed so far (it
# splits words at blanks and makes runs of word-break characters words of
# their own) and calls the function registered for the command.
run_completion() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$(sed -E 's/([@><=;|&(:]+)/ \1 /g' <<<"$line")"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  nospace=0
  local function
  function=$(complete -p "${COMP_WORDS[0]}" | awk '{ print $3 }')
  "$function"
}

# The candidates offered for a line, sorted.
complete_line() {
  run_completion "$1"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

# The line after one press of TAB, as readline makes it: the text after the
# last word-break character is replaced by the candidates' common start,
# followed by a blank when a single candidate is complete.
line_after_tab() {
  local line=$1 i word common
  run_completion "$line"
  word=$line
  for ((i = ${#line} - 1; i >= 0; i--)); do
    [[ $COMP_WORDBREAKS == *"${line:i:1}"* ]] && { word=${line:i+1}; break; }
  done
  [[ ${#COMPREPLY[@]} -gt 0 ]] || { printf '%s\n' "$line"; return; }
  common=${COMPREPLY[0]}
  for i in "${COMPREPLY[@]}"; do
    while [[ $i != "$common"* ]]; do common=${common%?}; done
  done
  [[ ${#COMPREPLY[@]} -eq 1 && $nospace -eq 0 ]] && common+=' '
  printf '%s\n' "${line%"$word"}$common"
}

# Compares what HOW (complete_line or line_after_tab) makes of LINE with WANT.
check() {  # how line want
  local got
  got=$("$1" "$2")
  [[ $got == "$3" ]] || {
    echo "FAIL: '$2' ($1): got '$got', want '$3'"
    failed=1
  }
}
expect() { check complete_line "$@"; }
expect_line() { check line_after_tab "$@"; }

# Option words at word positions, values after them.
expect "kestrow " "at b c d e f h ka kagi kb log logframes rt runfor s t v"
expect "brimlet k" "ka kagi kb"
expect "kestrow c COM1 t 10 " "at b c d e f h ka kagi kb log logframes rt runfor s t v"
expect "brimlet r" "rt runfor"
expect "kestrow c COM1 runfor " "12h 1d 1h 30m 90s"
expect "kestrow runfor 1" "12h 1d 1h"
expect "brimlet rt " ""
expect "brimlet l" "log logframes"
expect "kestrow logf" "logframes"
expect "kestrow c COM1 logframes " "all failures"
expect "brimlet logframes f" "failures"
expect "kestrow logframes all log" "log logframes"
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
expect "rwsim --reader=" "plain secured"
expect "rwsim --fault=wrong" "wrong-auth@ wrong-code@ wrong-counter@ wrong-mac@"
# What the line becomes: values after '=' are never preceded by another '='.
expect_line "rwsim --fau" "rwsim --fault="
expect_line "rwsim --reader=" "rwsim --reader="
expect_line "rwsim --reader=s" "rwsim --reader=secured "
expect_line "rwsim --des=of" "rwsim --des=off "
expect_line "rwsim --card=" "rwsim --card="
expect_line "rwsim --fault=" "rwsim --fault="
expect_line "rwsim --fault=no-r" "rwsim --fault=no-response@"
expect_line "rwsim --fault=tr" "rwsim --fault=trickle="
expect_line "rwsim --fault=sec" "rwsim --fault=second-ack@"
expect_line "rwsim --trace --fault=b" "rwsim --trace --fault=ba"
expect_line "rwsim --link=$scratch/r" "rwsim --link=$scratch/rw0 "
expect_line "kestrow c /dev/serial/by-path/pci-0000:00:1" \
  "kestrow c /dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 "
expect "rwsim --trace --link=$scratch/r" "$scratch/rw0"
offered=$(complete_line "rwsim --" | tr ' ' '\n' | sed 's/=$//' | sort -u | paste -sd ' ')
listed=$("$rwsim" --help | grep -o -- '--[a-z][a-z-]*' | sort -u | paste -sd ' ')
[[ $offered == "$listed" ]] || {
  echo "FAIL: rwsim options offered '$offered', rwsim --help lists '$listed'"
  failed=1
}
# Every fault kind of rwsim --help (listed after "KIND:" up to "May be
# repeated"), and no other.
offered=$(complete_line "rwsim --fault=" | tr ' ' '\n' | sed 's/[=@]$//' | sort | paste -sd ' ')
listed=$("$rwsim" --help | tr -s ' \n' ' ' | sed -n 's/.*KIND: \(.*\) May be repeated.*/\1/p' |
  sed 's/([^)]*)//g' | grep -Eo '[a-z]+(-[a-z]+)*(=MS)?' | grep -v -e '^secured$' -e '^only$' |
  sed 's/=MS$//' | sort | paste -sd ' ')
[[ -n $listed && $offered == "$listed" ]] || {
  echo "FAIL: rwsim fault kinds offered '$offered', rwsim --help lists '$listed'"
  failed=1
}

# rwreport: its options, and files as inputs and after --html.
expect "rwreport --h" "--help --html"
expect "rwreport $scratch/e" "$scratch/events.jsonl"
expect "rwreport --csv $scratch/rw" "$scratch/rw0"
expect "rwreport --html $scratch/" "$scratch/events.jsonl $scratch/rw0"
expect "rwreport --html --" ""
expect "rwreport --b" "--baseline --bin --by"
expect "rwreport --bin " ""
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
expect "rwstation --s" "--session --station --stop-wait"
expect "rwstation --listen " "0.0.0.0:9464 9464"
expect "rwstation --listen 0.0.0.0:" "9464"
expect "rwstation --station " ""
expect "rwstation --session $scratch/s" "$scratch/sessions"
expect "rwstation --reader " ""
expect "rwstation --duration " ""
expect "rwstation --n" "--no-retry"
expect "rwstation --require 99 $scratch/e" "$scratch/events.jsonl"
expect_help_options rwstation "$rwstation"
exit $failed
