#!/usr/bin/env bash
# A whole machine of the cluster in one command: the status server, the manager with a map
# list of 36 maps, its service started by the launch-control client, every map started
# ("-autolaunch"), the status link connected, /metrics served and scraped by a Prometheus of
# the demo's own with the fleet's alert rules, and five map servers told to misbehave, so
# that every colour of the grid and every state of the lists shows within a minute, and
# their alerts within two.
#
#   demo.sh <build/bin>
#
# With a display the window opens there; without one it is served over VNC. Ctrl-C ends
# everything the demo started, map servers included (the manager itself never ends its map
# servers). The map list and the configuration are written only when the operator has none.
#
# For tests: VEMO_DEMO_PLATFORM (a Qt platform, instead of the display or VNC),
# VEMO_DEMO_STATUS_PORT, VEMO_DEMO_LINE_PORT, VEMO_DEMO_METRICS_PORT, VEMO_DEMO_VNC_PORT,
# VEMO_DEMO_PROMETHEUS_PORT, and
# VEMO_DEMO_SERVER (the server name of the maps, which names their shared records) and
# VEMO_DEMO_SIGN (the manager's single-instance sign).
set -euo pipefail
bin=$(cd "$1" && pwd)
maps="$bin/MapServerData/Map/MapID.txt"
ini="$bin/VemoMapServerManager.ini"
status_port=${VEMO_DEMO_STATUS_PORT:-21888}
line_port=${VEMO_DEMO_LINE_PORT:-19001}
metrics_port=${VEMO_DEMO_METRICS_PORT:-9464}
vnc_port=${VEMO_DEMO_VNC_PORT:-5900}
prometheus_port=${VEMO_DEMO_PROMETHEUS_PORT:-9491}
server=${VEMO_DEMO_SERVER:-Map}

if [ ! -f "$maps" ]; then
  mkdir -p "$(dirname "$maps")"
  {
    echo "# MapID  ServerName  MapName  SortKey  LineID  MaxPlayer  MapType  FBLimit  MapManagerNum"
    names=(Green_Hills Old_Harbour Stone_Gate Misty_Marsh Red_Canyon Silver_Lake)
    for i in $(seq 1 36); do
      name=${names[$(( (i - 1) % 6 ))]}_$(( (i - 1) / 6 + 1 ))
      echo "$((1000 + i))  $server  $name  $i  1  $(( 200 + (i % 4) * 100 ))  0  $(( i % 5 ))  $(( (i - 1) / 18 + 1 ))"
    done
  } > "$maps"
  echo "demo: wrote a map list of 36 maps to $maps"
fi
if [ ! -f "$ini" ]; then
  cat > "$ini" <<EOF
[MapManager]
edt_port=$line_port
edtSSPort=$status_port
AutoConnectStatusServer=1
MetricsPort=$metrics_port
RestartExitedMaps=1
${VEMO_DEMO_SIGN:+edtMutexSign=$VEMO_DEMO_SIGN}
EOF
  echo "demo: wrote the demo's configuration to $ini"
fi

export VEMO_LOG_DIR="${VEMO_LOG_DIR:-$bin/ServerLog}"
# The status script Fennick.py and its extension module's wrapper are found on the
# interpreter's search path: the launch environment puts their folder there.
export PYTHONPATH="$bin/StatusScript${PYTHONPATH:+:$PYTHONPATH}"
# Five maps misbehave, a number of seconds after they run: a script error, a program
# error, a disconnection (the reconnect check restarts it), a hang (its heartbeat runs out)
# and a crash (restarted after its back-off, because RestartExitedMaps is on).
export VEMO_MS_FAULTS="${VEMO_MS_FAULTS:-${server}_1004:state4@15,${server}_1009:state5@20,${server}_1014:state6@25,${server}_1019:hang@10,${server}_1024:crash@30}"

status_pid=""
prometheus_pid=""
prometheus_dir=""
cleanup() {
  trap - INT TERM EXIT
  echo
  echo "demo: ending the status server, Prometheus, the manager and the demo's map servers"
  [ -n "$status_pid" ] && kill "$status_pid" 2>/dev/null || true
  if [ -n "$prometheus_pid" ]; then
    kill "$prometheus_pid" 2>/dev/null || true
    wait "$prometheus_pid" 2>/dev/null || true
  fi
  [ -n "$prometheus_dir" ] && rm -rf "$prometheus_dir"
  pkill -TERM -f "^$bin/VemoMapServerManager" 2>/dev/null || true
  for _ in $(seq 1 50); do pgrep -f "^$bin/VemoMapServerManager" >/dev/null || break; sleep 0.1; done
  pkill -KILL -f "^$bin/MapServerData/VemoMapServer" 2>/dev/null || true
  exit 0
}
trap cleanup INT TERM EXIT

cd "$bin"
"$bin/VemoStatusServer" --listen="127.0.0.1:$status_port" --lineinfo="127.0.0.1:$line_port" \
  --version=3 --line=2 --period=5 --fetch-dir="$bin/FetchedLogs" \
  --on-login="getlog EnvInfo.log" </dev/null >"$bin/StatusServer.out" 2>&1 &
status_pid=$!

# The manager loads its launch-control component (Halvix.dll) from the current directory,
# so it starts from build/bin.
if [ -n "${VEMO_DEMO_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM="$VEMO_DEMO_PLATFORM"
  where="on the Qt platform $QT_QPA_PLATFORM"
elif [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  where="on your display"
else
  export QT_QPA_PLATFORM="vnc:size=1280x800:port=$vnc_port"
  where="over VNC: point a VNC viewer at localhost:$vnc_port"
fi
"$bin/VemoMapServerManager" -autolaunch &
manager_pid=$!
echo "$manager_pid" > "$bin/VemoMapServerManager.pid"
# Its launch control answers once start-up is done; then "Start", without a click.
for _ in $(seq 1 600); do
  "$bin/HalvixClient" --manager "$manager_pid" status >/dev/null 2>&1 && break
  kill -0 "$manager_pid" 2>/dev/null || { echo "demo: the manager ended during start-up; see $VEMO_LOG_DIR" >&2; exit 1; }
  sleep 0.1
done
"$bin/HalvixClient" --manager "$manager_pid" --timeout 60 start --wait >/dev/null

# Prometheus (Debian's package) with the fleet's rules, scraping this machine every 5 s;
# its data lives in a temporary folder that Ctrl-C removes.
alerts_page="(no Prometheus: ./run installs Debian's prometheus package)"
if command -v prometheus >/dev/null; then
  prometheus_dir=$(mktemp -d /tmp/vemo-demo-prometheus.XXXXXX)
  cat > "$prometheus_dir/prometheus.yml" <<EOF
global:
  scrape_interval: 5s
  evaluation_interval: 5s
rule_files: ["$bin/prometheus/vemo-rules.yml"]
scrape_configs:
  - job_name: vemo
    static_configs:
      - targets: ["127.0.0.1:$metrics_port"]
EOF
  prometheus --config.file="$prometheus_dir/prometheus.yml" --storage.tsdb.path="$prometheus_dir/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" </dev/null >"$prometheus_dir/prometheus.out" 2>&1 &
  prometheus_pid=$!
  alerts_page="http://127.0.0.1:$prometheus_port/alerts"
fi

cat <<EOF

demo: the machine runs. What to look at:
  - the manager's window, $where: the "State" page fills with 36 cells, each coloured by
    its map's load (aqua, yellow, fuchsia, red) within seconds; then map 1019 (row 0) stops
    its heartbeat and turns grey ("Not Exist!"), 1004 turns lime (script error), 1009 blue
    (program error), 1014 black (disconnected; the reconnect check restarts it), and 1024
    crashes and is started again after its back-off. Click a cell for its message and log
    lights; double-click it for its row on the "Table" page.
  - the status server's figures of every map, every 5 s:   tail -f $bin/StatusServer.out
  - the metrics:   curl -s http://127.0.0.1:$metrics_port/metrics | grep vemo_map_state
  - the alerts, within two minutes (maps 1004 and 1009 in error, 1019 not running, each by
    name and machine):   $alerts_page
  - the logs:      $VEMO_LOG_DIR (the manager's), $bin/MapServerData/Log (the map servers')
  - from another shell:   $bin/VemoController watch    $bin/HalvixClient status
Ctrl-C ends the demo.
EOF

# Waits for Ctrl-C. A manager that ends on its own (closed, or SIGTERM) leaves its map
# servers running, as on a real machine: start another one from $bin to supervise them.
while true; do
  if [ -n "$manager_pid" ] && ! kill -0 "$manager_pid" 2>/dev/null; then
    echo "demo: the manager ended; its map servers keep running (Ctrl-C ends them)"
    manager_pid=""
  fi
  sleep 1
done
