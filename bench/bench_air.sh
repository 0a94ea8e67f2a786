#!/usr/bin/env bash
# Figures of the play list on the air, measured from outside the sender:
#   pacing  the loop broadcasts one six-packet section at the default period
#           (10 ms) for PACING_SECONDS; iptv-monitor --stats measures the
#           spacing of packet arrivals within a section: median, p10, p90.
#           The median must be within 0.3 ms of 10 ms.
#   cpu     the loop alone, log to /dev/null, for CPU_SECONDS: utime + stime
#           of the whole process from /proc/<pid>/stat. Goal: < 0.3 % of
#           one core.
#   headless  the same for the whole headless runner (iptv-headless) with a
#           config.txt of CPU_PROGRAMS programs (27: one six-packet section;
#           3: one packet), its log to /dev/null.
#   status  the cost of the status endpoint: the headless figure without the
#           endpoint, then with --status-listen and a scrape of /metrics and
#           /status every second (curl); both figures and their ratio. Goal:
#           the scraped runner stays under the same 0.3 %, and the scrape
#           adds less than 0.05 % of one core.
# Everything runs inside a private network namespace (scripts/netns-exec);
# nothing reaches the real network.
#
# Usage: bench/bench_air.sh [BUILD_DIR] [pacing|cpu|headless|status|all]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
what=${2:-all}
build=$(cd "$build" && pwd)
if [ -z "${IPTV_PRIVATE_NETNS:-}" ]; then
  exec "$here/../scripts/netns-exec" "$here/bench_air.sh" "$build" "$what"
fi
loop=$build/bench/bench_air_loop
monitor=$build/src/monitor/iptv-monitor
PACING_SECONDS=${PACING_SECONDS:-10}
CPU_SECONDS=${CPU_SECONDS:-30}
status=0
last_runtime_ns=0

pacing() {
  "$loop" --programs 27 --period 10 --duration $((PACING_SECONDS + 3)) >/dev/null 2>&1 &
  local pid=$!
  local out
  out=$("$monitor" --quiet --json --stats --duration "$PACING_SECONDS")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "pacing: $out"
  python3 - "$out" <<'PY' || status=1
import json, sys
r = json.loads(sys.argv[1])
w, a, c = r["spacing_within_section"], r["spacing_all"], r["counters"]
print(f"pacing: within a section n={w['count']} median={w['median_us']/1000:.3f} ms "
      f"p10={w['p10_us']/1000:.3f} ms p90={w['p90_us']/1000:.3f} ms; all packets median={a['median_us']/1000:.3f} ms "
      f"p90={a['p90_us']/1000:.3f} ms; crc_errors={c['crc_errors']} continuity_errors={c['continuity_errors']}")
ok = w["count"] > 0 and abs(w["median_us"] - 10000) <= 300
print("pacing:", "PASS" if ok else "FAIL", "(median within 0.3 ms of 10 ms)")
sys.exit(0 if ok else 1)
PY
}

# utime + stime of the whole process, in clock ticks (fields 14 and 15 of
# /proc/<pid>/stat, counted after the command name in parentheses).
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Time on a CPU of all its threads in ns, from the scheduler's own books: the
# tick counts above are samples, too coarse (and prone to bias for a process
# woken on a 10 ms grid) to resolve a fraction of a percent.
runtime_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}'; }

cpu() {
  if [ "${1:-loop}" = headless ]; then
    local cfg
    cfg=$(mktemp -d)/config.txt
    python3 - "$cfg" "${CPU_PROGRAMS:-27}" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
lines = ["IPTV multicast IP List", "@freq:10#", "@version:0#", "@index:1#"]
lines += [f"@mcast:{100 + i}:channel {i:012d}:239.1.{i // 250}.{1 + i % 250}:1234::0:0#" for i in range(n)]
lines.append("@end#")
open(path, "wb").write(("\r\n".join(lines) + "\r\n").encode())
PY
    local endpoint=()
    [ "${2:-}" = scraped ] && endpoint=(--status-listen 9310)
    echo "cpu: iptv-headless with ${CPU_PROGRAMS:-27} programs${endpoint:+, --status-listen and a scrape a second}"
    "$build/src/headless/iptv-headless" --config "$cfg" --interface Default --state "$cfg.onair" "${endpoint[@]}" \
      >/dev/null 2>&1 &
  else
    echo "cpu: the loop alone (bench_air_loop, 27 programs)"
    "$loop" --programs 27 --period 10 --duration $((CPU_SECONDS + 5)) >/dev/null 2>&1 &
  fi
  local pid=$! tck t0 t1 r0 r1 scraper=""
  tck=$(getconf CLK_TCK)
  if [ "${2:-}" = scraped ]; then
    # What a Prometheus server and a dashboard would ask, once a second.
    (while sleep 1; do
      curl -sf -o /dev/null http://127.0.0.1:9310/metrics || echo "cpu: scrape failed" >&2
      curl -sf -o /dev/null http://127.0.0.1:9310/status || echo "cpu: scrape failed" >&2
    done) &
    scraper=$!
  fi
  sleep 2  # past the start
  t0=$(ticks $pid)
  r0=$(runtime_ns $pid)
  sleep "$CPU_SECONDS"
  t1=$(ticks $pid)
  r1=$(runtime_ns $pid)
  [ -z "$scraper" ] || { kill "$scraper" 2>/dev/null; wait "$scraper" 2>/dev/null || true; }
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  last_runtime_ns=$((r1 - r0))
  python3 - "$t0" "$t1" "$tck" "$CPU_SECONDS" "$r0" "$r1" <<'PY' || status=1
import sys
t0, t1, tck, secs, r0, r1 = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
pct = (t1 - t0) / tck / secs * 100
print(f"cpu: /proc/<pid>/stat utime+stime {t1 - t0} ticks of 1/{tck} s in {secs:.0f} s = {pct:.3f} % of one core "
      f"(resolution {100 / tck / secs:.3f} %)")
if r1 > r0:
    print(f"cpu: schedstat run time {(r1 - r0) / 1e6:.1f} ms in {secs:.0f} s = {(r1 - r0) / 1e9 / secs * 100:.3f} % of one core")
print("cpu:", "PASS" if pct < 0.3 else "FAIL", "(goal < 0.3 %, judged on utime+stime)")
sys.exit(0 if pct < 0.3 else 1)
PY
}

# The runner alone, then with the endpoint scraped once a second.
status_cost() {
  local plain scraped
  cpu headless
  plain=$last_runtime_ns
  cpu headless scraped
  scraped=$last_runtime_ns
  python3 - "$plain" "$scraped" "$CPU_SECONDS" <<'PY' || status=1
import sys
plain, scraped, secs = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
p, s = plain / 1e9 / secs * 100, scraped / 1e9 / secs * 100
ratio = scraped / plain if plain else float("inf")
print(f"status: runner {p:.3f} %, with a scrape a second {s:.3f} % of one core; ratio {ratio:.2f}, "
      f"the scrape adds {s - p:+.3f} %")
ok = s - p < 0.05
print("status:", "PASS" if ok else "FAIL", "(the scrape adds < 0.05 % of one core)")
sys.exit(0 if ok else 1)
PY
}

case $what in
  pacing) pacing ;;
  cpu) cpu ;;
  headless) cpu headless ;;
  status) status_cost ;;
  all) pacing; cpu; cpu headless; CPU_PROGRAMS=3 cpu headless; status_cost ;;
  *) echo "usage: bench_air.sh [BUILD_DIR] [pacing|cpu|headless|status|all]" >&2; exit 2 ;;
esac
exit $status
