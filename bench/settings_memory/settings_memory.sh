#!/usr/bin/env bash
# Peak memory of Quillomet's start-up with large settings files: a 20 MB line in "reseau.ini",
# the same line in the timetable, and a timetable of 300,000 lines. Each case starts the
# program under its own virtual display and data folder, waits until it is idle, then ends it.
# Prints the peak resident size of each case, what it adds to a start with empty files, and
# that growth as a ratio of the file's size.
# usage: settings_memory.sh path/to/Quillomet [WORKDIR]
set -euo pipefail
bin=$(realpath "$1")
work=${2:-$(mktemp -d -p "${TMPDIR:-/var/tmp}")}
mkdir -p "$work"
display=$((RANDOM % 800 + 150))
Xvfb :$display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done

huge() { /usr/bin/python3 -c 'import sys; sys.stdout.write(sys.argv[1] + "x" * (20 << 20) + sys.argv[2] + "\n")' "$1" "$2"; }
entry='1|0|1|1|1|1|1|1|1|/home/user/Documents|*.*|/media/backup/Documents|1|0|'

# prepare <case>: writes the data files of a case into $work/<case>/data/Quillomet.
prepare() {
  local data=$work/$1/data/Quillomet
  mkdir -p "$data" "$work/$1/run"
  chmod 700 "$work/$1/run"
  printf '\n' > "$data/quillo-vz.dat"
  case $1 in
    empty) ;;
    network-line) huge 'PC1\' '\pw' > "$data/reseau.ini"; chmod 600 "$data/reseau.ini" ;;
    timetable-line) { printf '\n'; huge '1|0|1|1|1|1|1|1|1|/src/' '|*.*|/dst|1|0|'; } > "$data/quillo-vz.dat" ;;
    timetable-lines)
      /usr/bin/python3 -c 'import sys; sys.stdout.write("\n" + (sys.argv[1] + "\n") * 300000)' "$entry" > "$data/quillo-vz.dat" ;;
  esac
}

# size of the case's largest data file, bytes
size_of() { stat -c %s "$work/$1/data/Quillomet/"* | sort -n | tail -1; }

# run <case>: peak resident size in KiB.
run() {
  local dir=$work/$1
  env -i PATH="$PATH" HOME="$dir" XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" \
    XDG_RUNTIME_DIR="$dir/run" DISPLAY=:$display QT_QPA_PLATFORM=xcb \
    /usr/bin/time -f %M -o "$dir/peak" "$bin" >/dev/null 2>&1 &
  local timer=$! pid=""
  for _ in $(seq 100); do pid=$(pgrep -P $timer || true); [ -n "$pid" ] && break; sleep 0.1; done
  # Idle: no CPU time spent during two seconds in a row.
  local last=-1 now
  for _ in $(seq 120); do
    sleep 1
    now=$(awk '{print $14 + $15}' /proc/$pid/stat 2>/dev/null || echo gone)
    [ "$now" = gone ] && break
    [ "$now" = "$last" ] && break
    last=$now
  done
  kill $pid 2>/dev/null || true
  wait $timer 2>/dev/null || true
  tail -1 "$dir/peak"
}

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for c in empty network-line timetable-line timetable-lines; do prepare $c; done
base=$(run empty)
printf '%-16s %10s %10s %10s %8s\n' case "file MB" "peak MB" "added MB" "ratio"
printf '%-16s %10s %10.1f\n' empty 0 "$(echo "$base / 1024" | bc -l)"
for c in network-line timetable-line timetable-lines; do
  peak=$(run $c)
  size=$(size_of $c)
  printf '%-16s %10.1f %10.1f %10.1f %8.2f\n' $c "$(echo "$size / 1048576" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)" "$(echo "($peak - $base) / 1024" | bc -l)" \
    "$(echo "($peak - $base) * 1024 / $size" | bc -l)"
done
