#!/usr/bin/env bash
# Lays out a demo machine in the runnable tree and starts the manager on it.
#   demo.sh <build/bin>
# The map list (36 maps over two map managers) is written only when the operator has none.
# With a display the window opens there; without one the manager serves its window over VNC
# (Qt's vnc platform) on port 5900, for any VNC viewer.
set -euo pipefail
bin=$(cd "$1" && pwd)
maps="$bin/MapServerData/Map/MapID.txt"

if [ ! -f "$maps" ]; then
  mkdir -p "$(dirname "$maps")"
  {
    echo "# MapID  ServerName  MapName  SortKey  LineID  MaxPlayer  MapType  FBLimit  MapManagerNum"
    names=(Green_Hills Old_Harbour Stone_Gate Misty_Marsh Red_Canyon Silver_Lake)
    for i in $(seq 1 36); do
      name=${names[$(( (i - 1) % 6 ))]}_$(( (i - 1) / 6 + 1 ))
      echo "$((1000 + i))  Map  $name  $i  1  $(( 200 + (i % 4) * 100 ))  0  $(( i % 5 ))  $(( (i - 1) / 18 + 1 ))"
    done
  } > "$maps"
  echo "demo: wrote a map list of 36 maps to $maps"
fi

export VEMO_LOG_DIR="${VEMO_LOG_DIR:-$bin/ServerLog}"
# The manager loads its launch-control component (Halvix.dll) from the current directory:
# it is started from build/bin, so that "HalvixClient start" works from any shell.
# The status script Fennick.py and its extension module's wrapper are found on the
# interpreter's search path: the launch environment puts their folder there.
export PYTHONPATH="$bin/StatusScript${PYTHONPATH:+:$PYTHONPATH}"
cd "$bin"
echo "demo: logs in $VEMO_LOG_DIR; configuration in $bin/VemoMapServerManager.ini"
echo "demo: from another shell, $bin/HalvixClient start presses Start; $bin/VemoController watch shows the manager's notifications"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./VemoMapServerManager
fi
echo "demo: no display; the main window is served over VNC on localhost:5900 (Ctrl-C ends the demo)"
export QT_QPA_PLATFORM="vnc:size=1280x800:port=5900"
exec ./VemoMapServerManager
