# shellcheck shell=bash
# Rig for running VARNOLT under Wine against the virtual generator. A bash library: `source` it.
#
# Needs WINEPREFIX to name a prefix made by tools/wine/make-prefix.sh (its wineserver running).
# Settings, read when a function runs (defaults in brackets):
#   RIG_NATIVE_BUILD  native build folder with the generator and the shim [<repository>/build/native]
#   RIG_GENERATOR     the generator program [$RIG_NATIVE_BUILD/tools/virtual_generator/varnolt-virtual-generator]
#   RIG_PORT          the COM port rig_start_generator maps [COM5]
#
# Functions (each returns non-zero with one line on stderr when it fails):
#   rig_add_device SUBKEY INSTANCE HARDWAREID_MULTISZ [PORTNAME]
#       Registers a fake USB device at HKLM\System\CurrentControlSet\Enum\USB\SUBKEY\INSTANCE with a
#       ClassGUID (the Ports class) and the REG_MULTI_SZ HardwareID (ids separated by a literal \0,
#       as for `wine reg add`). PORTNAME goes into "Device Parameters" as PortName; without PORTNAME
#       the "Device Parameters" key is made empty; PORTNAME "-nokey" makes no such key at all.
#       Wine lists devices in key-name order, so of two matching devices SN0002 comes after SN0001.
#       Example: rig_add_device 'VID_1209&PID_7A3C' SN0001 'USB\VID_1209&PID_7A3C&REV_0100\0USB\VID_1209&PID_7A3C' COM5
#   rig_remove_devices
#       Removes every device rig_add_device registered in this prefix (the whole SUBKEY key).
#   rig_map_port COMn PATH
#       Points $WINEPREFIX/dosdevices/comn at PATH (a tty, e.g. the generator's pty).
#   rig_wine_env
#       Exports LD_PRELOAD with the pty modem-line shim (both word sizes, through the loader's $LIB),
#       WINEARCH (win32 unless set), WINELOADER (its loader) and WINEDEBUG (-all unless set): every
#       Wine process that opens the port needs it.
#   rig_wine PROGRAM [ARGS...]
#       Runs a Windows program (or one of Wine's, such as regedit) with the loader for WINEARCH.
#   rig_start_generator DIR [generator options...]
#       Starts the virtual generator in the background with its log DIR/generator.log (its stdout
#       and stderr in DIR/generator.out and DIR/generator.err), waits for its pty, maps $RIG_PORT to
#       it and calls rig_wine_env. Prints nothing. Sets RIG_GENERATOR_PID, RIG_GENERATOR_LOG and
#       RIG_GENERATOR_PTY. Options are the generator's own (see its --help), e.g. --report none.
#   rig_stop_generator
#       Stops the generator started by rig_start_generator (SIGTERM, then SIGKILL after 5 s).
#   rig_start_display DIR [WIDTHxHEIGHT]
#       Starts an Xvfb of its own on the first free display (its log DIR/xvfb.log), waits until it
#       answers and exports DISPLAY. Sets RIG_XVFB_PID; the caller kills it when done.
#   rig_restart_server DIR
#       Restarts the prefix's wineserver, persistent and detached (its log DIR/wineserver.log), and
#       waits until a program runs, which makes Wine's desktop on this $DISPLAY: the desktop keeps
#       the display it was made on, and a later program on another display would get no window.

RIG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=arch.sh
source "$RIG_ROOT/tools/wine/arch.sh"
RIG_USB_ENUM='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB'
RIG_PORTS_CLASS='{4D36E978-E325-11CE-BFC1-08002BE10318}'

# True while the process runs (a zombie counts as ended).
rig__alive() {
  local state
  state=$(sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

rig__native_build() { printf '%s\n' "${RIG_NATIVE_BUILD:-$RIG_ROOT/build/native}"; }

rig__need_prefix() {
  if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "rig: WINEPREFIX must name a prefix made by tools/wine/make-prefix.sh" >&2
    return 1
  fi
}

# Hex bytes (REGEDIT4 hex(7)) of a multi-string given with literal \0 between its strings.
rig__multisz_hex() {
  local rest=$1 part hex="" i byte
  while :; do
    part=${rest%%\\0*}
    for ((i = 0; i < ${#part}; i++)); do
      printf -v byte '%02x' "'${part:i:1}"
      hex+="$byte,"
    done
    hex+="00,"
    [[ $rest == *'\0'* ]] || break
    rest=${rest#*\\0}
  done
  printf '%s00\n' "$hex"
}

# Imports a REGEDIT4 text given on stdin, in one Wine start.
rig__import_reg() {
  local file
  file=$(mktemp --suffix=.reg) || return 1
  cat >"$file"
  # Z: is the prefix's drive for /, so no winepath start is needed.
  local windowsPath="Z:${file//\//\\}"
  if ! WINEDEBUG=-all rig_wine regedit /S "$windowsPath" </dev/null >/dev/null 2>&1; then
    echo "rig: regedit failed to import $file" >&2
    return 1
  fi
  rm -f "$file"
}

rig_add_device() {
  if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "rig_add_device: usage: rig_add_device SUBKEY INSTANCE HARDWAREID_MULTISZ [PORTNAME|-nokey]" >&2
    return 2
  fi
  rig__need_prefix || return 1
  local subkey=$1 instance=$2 ids=$3 portName=${4-}
  local key="$RIG_USB_ENUM\\$subkey\\$instance"
  {
    printf 'REGEDIT4\n\n[%s]\n"ClassGUID"="%s"\n"HardwareID"=hex(7):%s\n' \
      "$key" "$RIG_PORTS_CLASS" "$(rig__multisz_hex "$ids")"
    if [ "$portName" != "-nokey" ]; then
      printf '\n[%s\\Device Parameters]\n' "$key"
      [ -z "$portName" ] || printf '"PortName"="%s"\n' "$portName"
    fi
  } | rig__import_reg || return 1
  local list="$WINEPREFIX/.rig-devices"
  grep -qxF -- "$subkey" "$list" 2>/dev/null || printf '%s\n' "$subkey" >>"$list"
}

rig_remove_devices() {
  rig__need_prefix || return 1
  local list="$WINEPREFIX/.rig-devices" subkey
  [ -s "$list" ] || return 0
  {
    printf 'REGEDIT4\n'
    while IFS= read -r subkey; do
      [ -n "$subkey" ] && printf '\n[-%s\\%s]\n' "$RIG_USB_ENUM" "$subkey"
    done <"$list"
  } | rig__import_reg || return 1
  rm -f "$list"
}

rig_map_port() {
  if [ $# -ne 2 ]; then
    echo "rig_map_port: usage: rig_map_port COMn PATH" >&2
    return 2
  fi
  rig__need_prefix || return 1
  local port=${1,,}
  if ! [[ $port =~ ^com[1-9][0-9]*$ ]]; then
    echo "rig_map_port: not a COM port name: $1" >&2
    return 2
  fi
  mkdir -p "$WINEPREFIX/dosdevices" && ln -sfn "$2" "$WINEPREFIX/dosdevices/$port"
}

rig_wine_env() {
  local shim
  # Single quotes: the loader expands $LIB to the folder of each process's word size.
  shim="$(rig__native_build)/tools/ptyshim/"'$LIB'"/libvarnolt-ptyshim.so"
  case ":${LD_PRELOAD:-}:" in
    *":$shim:"*) ;;
    *) export LD_PRELOAD="${LD_PRELOAD:+$LD_PRELOAD:}$shim" ;;
  esac
  export WINEARCH=${WINEARCH:-win32}
  export WINEDEBUG="${WINEDEBUG:--all}"
  WINELOADER=$(wine_loader) || return 1
  export WINELOADER
}

rig_wine() {
  local loader
  loader=$(wine_loader) || return 1
  WINELOADER=$loader "$loader" "$@"
}

rig_start_generator() {
  if [ $# -lt 1 ]; then
    echo "rig_start_generator: usage: rig_start_generator DIR [generator options...]" >&2
    return 2
  fi
  rig__need_prefix || return 1
  local dir=$1
  shift
  local generator=${RIG_GENERATOR:-$(rig__native_build)/tools/virtual_generator/varnolt-virtual-generator}
  if [ ! -x "$generator" ]; then
    echo "rig_start_generator: no generator at $generator (build the native tools first)" >&2
    return 1
  fi
  mkdir -p "$dir" || return 1
  dir=$(cd "$dir" && pwd)
  local out="$dir/generator.out"
  : >"$out"
  # The generator holds the pty's master end: it needs no shim (and a sanitized build refuses one).
  env -u LD_PRELOAD "$generator" --log "$dir/generator.log" "$@" >"$out" 2>"$dir/generator.err" </dev/null &
  RIG_GENERATOR_PID=$!
  RIG_GENERATOR_LOG="$dir/generator.log"
  RIG_GENERATOR_PTY=
  local _i
  for ((_i = 0; _i < 100; _i++)); do
    RIG_GENERATOR_PTY=$(head -n 1 "$out")
    [ -n "$RIG_GENERATOR_PTY" ] && break
    if ! rig__alive "$RIG_GENERATOR_PID"; then
      echo "rig_start_generator: the generator ended at once: $(head -c 300 "$dir/generator.err")" >&2
      RIG_GENERATOR_PID=
      return 1
    fi
    sleep 0.05
  done
  if [ -z "$RIG_GENERATOR_PTY" ]; then
    echo "rig_start_generator: the generator printed no pty path" >&2
    rig_stop_generator
    return 1
  fi
  rig_map_port "${RIG_PORT:-COM5}" "$RIG_GENERATOR_PTY" || return 1
  rig_wine_env
}

rig_stop_generator() {
  local pid=${RIG_GENERATOR_PID:-}
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  local _i
  for ((_i = 0; _i < 100; _i++)); do
    rig__alive "$pid" || break
    sleep 0.05
  done
  if rig__alive "$pid"; then
    kill -KILL "$pid" 2>/dev/null || true
  fi
  # Reaps it when it is this shell's child; elsewhere wait just fails.
  wait "$pid" 2>/dev/null || true
  RIG_GENERATOR_PID=
}

rig_start_display() {
  local dir=$1 size=${2:-1024x768}
  # -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
  exec 9>"$dir/display"
  Xvfb -displayfd 9 -screen 0 "${size}x24" -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  RIG_XVFB_PID=$!
  exec 9>&-
  local _
  for _ in $(seq 1 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
  if [ ! -s "$dir/display" ]; then
    echo "rig: Xvfb did not start (see $dir/xvfb.log)" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$dir/display")"
}

rig_restart_server() {
  rig__need_prefix || return 1
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  # Not Wine's own start: that server would take the generator's pty as its controlling terminal.
  (setsid wineserver -f -p >"$1/wineserver.log" 2>&1 </dev/null &)
  local _i
  for ((_i = 0; _i < 150; _i++)); do
    WINEDEBUG=-all rig_wine cmd /c exit 0 </dev/null >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  echo "rig: the prefix's wineserver did not come back" >&2
  return 1
}
