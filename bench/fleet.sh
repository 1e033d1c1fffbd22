#!/usr/bin/env bash
# The station store and the fleet report at a line's scale: the time to store
# one run (calreport FOLDER --store DB, as a process), then stores of 100,000
# and 1,000,000 runs (a line of four stations, one run every 31.5 s: a month
# and a year of production) in SQLite and in a PostgreSQL server started in a
# temporary folder, filled in bulk; for each, the store's size a run and the
# fleet report's time and peak memory over its default window (calreport
# --fleet DB, with the proposed limits). The runs are real ones of sensortrim,
# offline from simulated dumps, stored again as the runs of many devices.
#   bash bench/fleet.sh [BUILD]          (default: build)
# SIZES="100000 1000000" and ENGINES="sqlite postgresql" choose the stores.
# Goals: at most 2 KB a run, the report at most 10 s and 300 MB, and ten
# times the history at the same window at most 1.5 times the time; a figure
# past its goal is marked "FALLS SHORT".
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,13p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
sizes=${SIZES:-100000 1000000}
engines=${ENGINES:-sqlite postgresql}
work=$(mktemp -d /tmp/fleet-bench.XXXXXX)
server=""
cleanup() {
  if [ -n "$server" ]; then $as_user "$server/pg_ctl" -D "$work/pg/data" -m immediate stop > /dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
calreport="/usr/bin/python3 $root/calreport/calreport.py"

# Real runs: full calibrations of devices with different errors (one held
# wrongly in a step, which fails), and four-steps tests.
folders=()
for seed in 1 2 3 4; do
  "$build/hubsim/devicesim" --out "$work/dumps$seed" --flow full --sensors A,G,M --seed "$seed" \
    --acc-offset "0.0$seed,-0.02,0.01" --gyro-scale "1.0$seed,0.98,1.01" > /dev/null
  "$build/sensortrim/sensortrim" -CalibrateOffline AGM -UseRawData "$work/dumps$seed" -ExportAllFiles "$work/cal$seed" > /dev/null
  folders+=("$work/cal$seed")
done
"$build/hubsim/devicesim" --out "$work/wrong" --flow full --sensors A,G,M --wrong-step 2 > /dev/null
"$build/sensortrim/sensortrim" -CalibrateOffline AGM -UseRawData "$work/wrong" -ExportAllFiles "$work/calwrong" > /dev/null || true
folders+=("$work/calwrong")
for seed in 5 6; do
  "$build/hubsim/devicesim" --out "$work/t$seed" --flow foursteps --sensors A,G --mode test --seed "$seed" \
    --acc-offset "0.0$((seed * 2)),0,0" > /dev/null
  "$build/sensortrim/sensortrim" -TestCalibration AG -FourSteps -UseRawData "$work/t$seed" -ExportAllFiles "$work/test$seed" > /dev/null || true
  folders+=("$work/test$seed")
done

echo "== storing one run (calreport FOLDER --store DB), 20 times into fresh stores =="
times=()
for n in $(seq 1 20); do
  start=$(date +%s%N)
  $calreport "${folders[$((n % ${#folders[@]}))]}" --store "$work/one$n.db" > /dev/null
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "store of one run: median %d ms, min %d ms, max %d ms%s\n", a[int((NR+1)/2)], a[1], a[NR], (a[int((NR+1)/2)] > 200) ? "  FALLS SHORT of 200 ms" : ""}'

# A throw-away PostgreSQL server, as the tests start one (as root it runs as
# the postgres user).
as_user=""
start_postgresql() {
  local initdb
  initdb=$(ls /usr/lib/postgresql/*/bin/initdb 2>/dev/null | sort | tail -n 1)
  [ -n "$initdb" ] || { echo "PostgreSQL is not installed: its stores are left out"; return 1; }
  server=$(dirname "$initdb")
  mkdir -p "$work/pg"
  if [ "$(id -u)" = 0 ]; then chown postgres "$work" "$work/pg"; chmod 755 "$work"; as_user="runuser -u postgres --"; fi
  $as_user "$server/initdb" -D "$work/pg/data" -A trust -U calreport > /dev/null
  port=$((20000 + $$ % 20000))
  $as_user "$server/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w \
    -o "-k $work/pg -p $port -c listen_addresses='' -c shared_buffers=128MB" start > /dev/null
  pgurl="postgresql://calreport@/DB?host=$work/pg&port=$port"
}
if [[ " $engines " == *" postgresql "* ]]; then start_postgresql || engines=${engines/postgresql/}; fi

declare -A seconds
for engine in $engines; do
  for size in $sizes; do
    if [ "$engine" = sqlite ]; then
      target="$work/fleet$size.db"
    else
      $as_user "$server/createdb" -h "$work/pg" -p "$port" -U calreport "fleet$size"
      target=${pgurl/DB/fleet$size}
    fi
    echo "== $engine, $size runs =="
    start=$(date +%s%N)
    /usr/bin/python3 "$root/bench/fleet_store.py" "$target" "$size" "${folders[@]}"
    fill=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ "$engine" = sqlite ]; then
      bytes=$(stat -c %s "$target")
    else
      bytes=$(/usr/bin/python3 -c "import psycopg2, sys; c = psycopg2.connect(sys.argv[1]).cursor(); \
c.execute('SELECT pg_database_size(current_database())'); print(c.fetchone()[0])" "$target")
    fi
    awk -v b="$bytes" -v n="$size" -v f="$fill" 'BEGIN {a = b / n; printf "filled in %.1f s; the store: %.0f MB, %.0f bytes a run%s\n", f / 1000, b / 1e6, a, (a > 2048) ? "  FALLS SHORT of 2 KB" : ""}'
    best=""
    for n in 1 2 3; do
      /usr/bin/time -f "%e %M" -o "$work/time" $calreport --fleet "$target" -o "$work/fleet.html" \
        --propose-limits "$work/TestingConfig.xml" > "$work/fleet.out"
      read -r elapsed kilobytes < "$work/time"
      echo "fleet report: $elapsed s, peak $((kilobytes / 1024)) MB"
      if [ -z "$best" ] || awk -v a="$elapsed" -v b="${best% *}" 'BEGIN {exit !(a < b)}'; then best="$elapsed $kilobytes"; fi
    done
    read -r elapsed kilobytes <<< "$best"
    seconds[$engine$size]=$elapsed
    awk -v s="$elapsed" -v k="$kilobytes" -v n="$size" 'BEGIN {printf "fleet report of %d runs, best of 3: %.2f s, peak %.0f MB%s%s\n", n, s, k / 1024, (s > 10) ? "  FALLS SHORT of 10 s" : "", (k / 1024 > 300) ? "  FALLS SHORT of 300 MB" : ""}'
    sed -n 2,5p "$work/fleet.out"
    [ "$engine" = sqlite ] && rm -f "$target"
  done
  set -- $sizes
  if [ $# -ge 2 ]; then
    awk -v a="${seconds[$engine$1]}" -v b="${seconds[$engine$2]}" -v e="$engine" -v x="$1" -v y="$2" \
      'BEGIN {r = b / a; printf "%s: %d runs against %d: %.2f times the time%s\n", e, y, x, r, (r > 1.5) ? "  FALLS SHORT of 1.5" : ""}'
  fi
done
