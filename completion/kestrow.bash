# Bash completion for kestrow, brimlet, rwsim, rwreport and rwstation. Installed once per program
# name, so that bash-completion finds it on first use of any of them.

# Serial devices present on this machine, one per line.
_kestrow_serial_devices() {
  local device
  for device in /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/ttyAMA* /dev/rfcomm* \
    /dev/serial/by-id/* /dev/serial/by-path/*; do
    [[ -e $device ]] && printf '%s\n' "$device"
  done
}

# The word being completed and the one before it, split on blanks only, so
# that paths with ':' and values after '=' stay whole.
_kestrow_words() {
  local line=${COMP_LINE:0:COMP_POINT}
  read -ra _kestrow_line_words <<<"$line"
  [[ -z $line || $line == *[[:blank:]] ]] && _kestrow_line_words+=("")
}

# Readline replaces only the text after the last word-break character
# (COMP_WORDBREAKS: '=', ':', '@' and others): drop the part of each
# candidate that lies before it, so that --fault= becomes --fault=no-ack@,
# not --fault==no-ack@.
_kestrow_trim_replies() {
  local cur=$1 breaks=${COMP_WORDBREAKS-$' \t\n"\'@><=;|&(:'} i prefix=
  for ((i = ${#cur} - 1; i >= 0; i--)); do
    if [[ $breaks == *"${cur:i:1}"* ]]; then
      prefix=${cur:0:i+1}
      break
    fi
  done
  [[ -n $prefix ]] || return 0
  for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]#"$prefix"}; done
}

_kestrow_port_values() {
  local cur=$1 devices
  devices=$(_kestrow_serial_devices)
  case $cur in
    C*) mapfile -t COMPREPLY < <(compgen -W "$(printf 'COM%d ' {1..20})" -- "$cur") ;;
    t*) mapfile -t COMPREPLY < <(compgen -W "${devices//\/dev\//}" -- "$cur") ;;
    *) mapfile -t COMPREPLY < <(compgen -W "$devices" -- "$cur") ;;
  esac
  if [[ ${#COMPREPLY[@]} -eq 0 ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
  fi
}

# kestrow and brimlet: option words and values alternate.
_kestrow_tool() {
  local -a _kestrow_line_words
  _kestrow_words
  local count=${#_kestrow_line_words[@]}
  local cur=${_kestrow_line_words[count - 1]} prev=${_kestrow_line_words[count - 2]}
  COMPREPLY=()
  if (((count - 1) % 2 == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "c b at rt ka kb kagi t e d f log logframes runfor s h v" -- "$cur")
    return 0
  fi
  case $prev in
    c*) _kestrow_port_values "$cur" ;;
    b*) mapfile -t COMPREPLY < <(compgen -W "115200 57600 38400 19200 9600" -- "$cur") ;;
    kagi | s*) mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur") ;;
    logframes) mapfile -t COMPREPLY < <(compgen -W "failures all" -- "$cur") ;;
    runfor) mapfile -t COMPREPLY < <(compgen -W "90s 30m 1h 12h 1d" -- "$cur") ;;
    f* | log)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      compopt -o filenames 2>/dev/null
      ;;
  esac
  _kestrow_trim_replies "$cur"
}

_kestrow_rwsim() {
  local -a _kestrow_line_words
  _kestrow_words
  local cur=${_kestrow_line_words[${#_kestrow_line_words[@]} - 1]}
  local options="--reader= --des= --card= --drift= --seed= --card-id= --fault= --flap= --unplug=
    --ka= --kb= --reader-id= --session-key= --baud= --link= --trace --help --version"
  local faults="no-ack@ no-response@ bad-checksum@ wrong-code@ short@ ack-delay=
    response-delay= trickle= babble@ garbage@ second-ack@ wrong-mac@ wrong-counter@ wrong-auth@"
  COMPREPLY=()
  case $cur in
    --reader=*) mapfile -t COMPREPLY < <(compgen -P --reader= -W "plain secured" -- "${cur#*=}") ;;
    --des=*) mapfile -t COMPREPLY < <(compgen -P --des= -W "on off" -- "${cur#*=}") ;;
    --card=*) mapfile -t COMPREPLY < <(compgen -P --card= -W "always never p=" -- "${cur#*=}") ;;
    --fault=*) mapfile -t COMPREPLY < <(compgen -P --fault= -W "$faults" -- "${cur#*=}") ;;
    --link=*)
      mapfile -t COMPREPLY < <(compgen -P --link= -f -- "${cur#*=}")
      compopt -o filenames 2>/dev/null
      ;;
    --*=*) ;;
    *) mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur") ;;
  esac
  [[ ${COMPREPLY[*]} == *[=@] ]] && compopt -o nospace 2>/dev/null
  _kestrow_trim_replies "$cur"
}

# rwreport: --options, the values of --csv and --by, and files (result
# files, event logs, the page after --html, the JUnit file after --junit)
# everywhere else.
_kestrow_rwreport() {
  local -a _kestrow_line_words
  _kestrow_words
  local count=${#_kestrow_line_words[@]}
  local cur=${_kestrow_line_words[count - 1]} prev=${_kestrow_line_words[count - 2]}
  COMPREPLY=()
  if [[ $prev == --csv && $cur != -* ]]; then  # a table, or a file: --csv's word is optional
    mapfile -t COMPREPLY < <(compgen -W "runs compare series plan" -- "$cur"; compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
  elif [[ $prev == --by ]]; then
    mapfile -t COMPREPLY < <(compgen -W "tag file" -- "$cur")
  elif [[ $prev == --title || $prev == --require || $prev == --plan || $prev == --baseline ||
    $prev == --bin ]]; then
    return 0
  elif [[ $cur == -* && $prev != --html && $prev != --junit ]]; then
    mapfile -t COMPREPLY < <(compgen -W "--csv --html --junit --title --require --compare
      --baseline --plan --bin --by --skip-bad --help --version" -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    compopt -o filenames 2>/dev/null
  fi
  _kestrow_trim_replies "$cur"
}

# rwstation: --options, a folder after --session, the usual port of the
# metrics (alone: this PC only; or for every network) after --listen,
# nothing to offer after --reader, --require, --duration, --title,
# --stop-wait and --station, the plan file everywhere else.
_kestrow_rwstation() {
  local -a _kestrow_line_words
  _kestrow_words
  local count=${#_kestrow_line_words[@]}
  local cur=${_kestrow_line_words[count - 1]} prev=${_kestrow_line_words[count - 2]}
  COMPREPLY=()
  case $prev in
    --reader | --require | --duration | --title | --stop-wait | --station) return 0 ;;
    --listen)
      mapfile -t COMPREPLY < <(compgen -W "9464 0.0.0.0:9464" -- "$cur")
      ;;
    --session)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      compopt -o filenames 2>/dev/null
      ;;
    *)
      if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--reader --require --session --duration --no-retry
          --title --stop-wait --listen --station --help --version" -- "$cur")
      else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2>/dev/null
      fi
      ;;
  esac
  _kestrow_trim_replies "$cur"
}

complete -F _kestrow_tool kestrow brimlet
complete -F _kestrow_rwsim rwsim
complete -F _kestrow_rwreport rwreport
complete -F _kestrow_rwstation rwstation
