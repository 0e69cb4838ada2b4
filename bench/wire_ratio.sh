#!/usr/bin/env bash
# The plug-in against bare libcurl on the wire (build/bench/wire_ratio), on lighttpd and nginx on
# loopback, then with 20 ms of added round-trip time in a network namespace, and one table.
#
#   bench/wire_ratio.sh [--build DIR] [--servers "lighttpd nginx"] [--no-delay] [--quick]
#
# Needs root (network namespace), the build's wire_ratio, and for the delayed run either the
# kernel's netem or iptables-legacy with the build's netdelay (NFQUEUE). Ratios are plug-in
# speed / bare speed, medians of 3 runs; each run takes turns unit by unit.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="$repo/build"
servers="lighttpd nginx"
delay=1
quick=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --servers) servers="$2"; shift 2 ;;
    --no-delay) delay=0; shift ;;
    --quick) quick=1; shift ;;
    *) echo "usage: wire_ratio.sh [--build DIR] [--servers LIST] [--no-delay] [--quick]" >&2; exit 2 ;;
  esac
done
bin="$build/bench/wire_ratio"
[ -x "$bin" ] || { echo "wire_ratio.sh: build $bin first (cmake --build build --target wire_ratio)" >&2; exit 2; }

work="$(mktemp -d /tmp/wire_ratio.XXXXXX)"
chmod 755 "$work"
results="$work/results"
: >"$results"
netns="wire_ratio_$$"
delayer=""
started=()
cleanup() {
  for dir in ${started[@]+"${started[@]}"}; do "$repo/tests/servers/stop.sh" "$dir" >/dev/null 2>&1 || true; done
  [ -z "$delayer" ] || kill "$delayer" 2>/dev/null || true
  ip netns del "$netns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Scale: the issue's figures are 2,000 stats, a 10,000-file folder, 1 GiB read in 4 MiB ranges
# and 1 GiB uploaded; --quick makes everything small to try the script.
stats=2000 entries=10000 size=$((1 << 30)) rounds=5 big_rounds=2
if [ "$quick" = 1 ]; then stats=200 entries=1000 size=$((64 << 20)) rounds=2 big_rounds=1; fi

# A server of kind $1 in folder $2 (run through the command prefix in $3...) with the folder
# of many files, a big file to read and a source file to upload.
start_server() {
  local kind="$1" dir="$2"
  shift 2
  local url
  url="$(WEBDAV_SERVER_OWNER=none "$@" "$repo/tests/servers/start.sh" "$kind" "$dir" --auth none)"
  started+=("$dir")
  /usr/bin/python3 - "$dir/root" "$entries" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
os.makedirs(root + "/big", exist_ok=True)
for i in range(count):
    path = root + "/big/file %05d ü.txt" % i
    with open(path, "w") as f:
        f.write("x" * (i % 1000))
    os.utime(path, (1600000000 + i * 37, 1600000000 + i * 37))
EOF
  fallocate -l "$size" "$dir/root/big.bin"
  fallocate -l "$size" "$dir/source.bin"
  chown -R --reference="$dir/root/.." "$dir/root" 2>/dev/null || true
  echo "$url"
}

# run LABEL URL WORKLOAD ARGS... [-- PREFIX...]: one wire_ratio run, its RESULT line kept.
run() {
  local label="$1" url="$2" workload="$3"
  shift 3
  local prefix=()
  local args=()
  while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then shift; prefix=("$@"); break; fi
    args+=("$1"); shift
  done
  echo "== $label $workload" >&2
  local out
  out="$(${prefix[@]+"${prefix[@]}"} "$bin" --url "$url" --workload "$workload" --entries "$entries" "${args[@]}")" || {
    echo "$out" >&2
    echo "wire_ratio.sh: $label $workload failed" >&2
    return 1
  }
  echo "$out" | grep -v '^RESULT' >&2
  echo "$out" | grep '^RESULT' | sed "s/^RESULT/label=$label/" >>"$results"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for kind in $servers; do
  dir="$work/$kind"
  url="$(start_server "$kind" "$dir")"
  run "$kind" "$url" stats --count "$stats" --rounds "$rounds" --runs 3
  run "$kind" "$url" list --count 1 --rounds "$rounds" --runs 3
  run "$kind" "$url" read --size "$size" --rounds "$big_rounds" --runs 3
  run "$kind" "$url" write --size "$size" --source "$dir/source.bin" --rounds "$big_rounds" --runs 3
  "$repo/tests/servers/stop.sh" "$dir" >/dev/null
done

if [ "$delay" = 1 ]; then
  # Loopback only, every packet held 10 ms on its way out: 20 ms more per round trip.
  ip netns add "$netns"
  in_ns=(ip netns exec "$netns")
  "${in_ns[@]}" ip link set lo up
  if ! "${in_ns[@]}" tc qdisc add dev lo root netem delay 10ms 2>/dev/null; then
    # This kernel has no netem: the same delay through NFQUEUE and bench/netdelay.
    [ -x "$build/bench/netdelay" ] || { echo "wire_ratio.sh: no netem and no $build/bench/netdelay" >&2; exit 1; }
    "${in_ns[@]}" iptables-legacy -A OUTPUT -o lo -j NFQUEUE --queue-num 0
    "${in_ns[@]}" "$build/bench/netdelay" 0 10 2>"$work/netdelay.log" &
    delayer=$!
    sleep 0.5
  fi
  rtt="$("${in_ns[@]}" /usr/bin/python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
t = time.monotonic(); c = socket.create_connection(s.getsockname()); print("%.1f" % ((time.monotonic() - t) * 1000))')"
  echo "round trip in the namespace: $rtt ms" >&2
  dir="$work/delayed"
  url="$(start_server lighttpd "$dir" "${in_ns[@]}")"
  run "lighttpd+20ms" "$url" stats --count 200 --rounds 1 --runs 3 -- "${in_ns[@]}"
  run "lighttpd+20ms" "$url" list --count 1 --rounds 3 --runs 3 -- "${in_ns[@]}"
  run "lighttpd+20ms" "$url" read --size $((64 << 20)) --rounds 3 --runs 3 -- "${in_ns[@]}"
  "$repo/tests/servers/stop.sh" "$dir" >/dev/null
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# The table: one row per server and workload.
/usr/bin/python3 - "$results" <<'EOF'
import sys
rows = [dict(kv.split("=", 1) for kv in line.split()) for line in open(sys.argv[1])]
print("| server | work | plug-in / bare (runs) | bare | plug-in | connections bare / plug-in | requests bare / plug-in | sends per request bare / plug-in | memory |")
print("|---|---|---|---|---|---|---|---|---|")
for r in rows:
    w = r["workload"]
    def speed(side):
        if "bare_MBps" in r: return "%s MB/s" % r[side + "_MBps"]
        return "%.2f ms" % float(r[side + "_ms"])
    mem = ""
    if w == "list":
        mem = "peak +%s KiB for a %s KiB answer; client-side %s ms, %s entries/s" % (
            r["peak_KiB"], r["answer_KiB"], r["client_ms"], r["entries_per_s"])
    elif w == "read":
        mem = "peak +%s KiB reading 64 MiB, +%s KiB reading all" % (r["peak64M_KiB"], r["peakAll_KiB"])
    elif w == "write":
        mem = "peak +%s KiB" % r["peak_KiB"]
    # Sends per request tell whether a small request leaves in one write (TCP_NODELAY: one segment).
    spr = lambda s: "%.2f" % (int(r[s + "_sends"]) / max(int(r[s + "_req"]), 1)) if w in ("stats", "list") else "-"
    same = "" if r["same_requests"] == "1" else " (heads differ!)"
    print("| %s | %s%s | %s (%s-%s) | %s | %s | %s / %s | %s / %s | %s / %s | %s |" % (
        r["label"], w, same, r["ratio"], r["min"], r["max"], speed("bare"), speed("plugin"),
        r["bare_conn"], r["plugin_conn"], r["bare_req"], r["plugin_req"], spr("bare"), spr("plugin"), mem))
EOF
