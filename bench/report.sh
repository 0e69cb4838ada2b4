#!/usr/bin/env bash
# The performance report: our client (davctl, and davmount for the mounted workloads, also with
# -o direct_io for reads and writes) against
# bare curl, rclone (lsjson, cat, copyto, copy; and rclone mount --vfs-cache-mode writes) and
# davfs2 (mounted), all on one local lighttpd. Medians of 3 runs, clients in turn; writes are
# timed until the data is on the server's disk. Writes a markdown table and one chart.
#
#   bench/report.sh [--build DIR] [--out DIR] [--runs N] [--quick] [--only "WORKLOAD... CLIENT..."]
#   bench/report.sh --redraw [--out DIR]     table and chart again from DIR/times.tsv
#
# Needs root (mounts), /dev/fuse, and scripts/install-deps.sh --bench (davfs2, gnuplot).
# Output: DIR/report.md, DIR/report.png, DIR/times.tsv (default DIR: bench/report).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="$repo/build"
out="$here/report"
runs=3
quick=0
only=""
redraw=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --quick) quick=1; shift ;;
    --only) only="$2"; shift 2 ;;  # e.g. "read curl davmount davmount-direct"
    --redraw) redraw=1; shift ;;
    *) echo "usage: report.sh [--build DIR] [--out DIR] [--runs N] [--quick] [--only \"WORKLOAD... CLIENT...\"] | --redraw [--out DIR]" >&2; exit 2 ;;
  esac
done
davctl="$build/davctl"
davmount="$build/davmount"
for tool in "$davctl" "$davmount"; do
  [ -x "$tool" ] || { echo "report.sh: build $tool first" >&2; exit 2; }
done
for tool in curl rclone mount.davfs gnuplot fusermount3; do
  command -v "$tool" >/dev/null || { echo "report.sh: $tool missing (scripts/install-deps.sh --bench)" >&2; exit 2; }
done
mkdir -p "$out"
out="$(cd "$out" && pwd)"

entries=10000 stats=2000 size=$((1 << 30)) smalls=1000
if [ "$quick" = 1 ]; then entries=1000 stats=200 size=$((64 << 20)) smalls=100; fi

# ---- table and chart ----------------------------------------------------------------------
# From $out/times.tsv (workload, client, run, seconds) and $out/conditions.
draw() {
  # shellcheck source=/dev/null
  . "$out/conditions"  # the sizes measured and the load at the end
/usr/bin/python3 - "$out/times.tsv" "$out" "$entries" "$stats" "$size" "$smalls" "$load" <<'EOF'
import collections, statistics, sys
times, out, entries, stats, size, smalls, load = sys.argv[1:8]
entries, stats, size, smalls = int(entries), int(stats), int(size), int(smalls)
rows = [l.rstrip("\n").split("\t") for l in open(times)][1:]
cell = collections.defaultdict(list)
for w, c, r, s in rows:
    cell[(w, c)].append(float(s))
mib = size / 2**20
# workload, row title, chart label, bytes moved (for a speed)
work = [
    ("list", "list a folder of %d files" % entries, "list %d" % entries, None),
    ("stats", "%d stats in one process" % stats, "%d stats" % stats, None),
    ("read", "read %d MiB" % mib, "read %d MiB" % mib, size),
    ("write", "write %d MiB, until on the server" % mib, "write %d MiB" % mib, size),
    ("extract", "extract %d files of 4 KiB, then `ls -l`, until on the server" % smalls,
     "extract %d" % smalls, None),
]
clients = [("davctl", "davctl"), ("davmount", "davmount"),
           ("davmount-direct", "davmount -o direct_io"), ("curl", "curl"),
           ("rclone", "rclone"), ("rclone-mount", "rclone mount"), ("davfs2", "davfs2")]
def median(w, c):
    v = cell.get((w, c))
    return statistics.median(v) if v else None
def shown(w, c, nbytes):
    m = median(w, c)
    if m is None:
        return "—"
    text = "%.2f s" % m
    if nbytes:
        text += " (%.0f MiB/s)" % (nbytes / 2**20 / m)
    return text
with open(out + "/report.md", "w") as f:
    f.write("| workload | " + " | ".join(name for _, name in clients) + " |\n")
    f.write("|---|" + "---|" * len(clients) + "\n")
    for w, title, label, nbytes in work:
        f.write("| %s | " % title + " | ".join(shown(w, c, nbytes) for c, _ in clients) + " |\n")
    f.write("\nMedians of %d runs on one local lighttpd; load average %s.\n"
            % (max(len(v) for v in cell.values()), load))
with open(out + "/chart.dat", "w") as f:
    f.write("workload " + " ".join('"%s"' % name for _, name in clients) + "\n")
    for w, title, label, nbytes in work:
        values = []
        for c, _ in clients:
            m = median(w, c)
            values.append("%.3f" % m if m is not None else "-")
        f.write('"%s" %s\n' % (label, " ".join(values)))
EOF
gnuplot <<EOF
set terminal pngcairo size 1000,420 font "sans,10" noenhanced
set output "$out/report.png"
set title "Time per workload, one local lighttpd (median of $(tail -n +2 "$out/times.tsv" | cut -f3 | sort -u | grep -c .); lower is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set boxwidth 0.9
set datafile missing "-"
set logscale y
set ylabel "seconds (log scale)"
set key outside right top
set grid ytics
set xtics scale 0
plot for [i=2:8] "$out/chart.dat" using i:xtic(1) title columnheader(i)
EOF
rm -f "$out/chart.dat"
cat "$out/report.md"
echo "chart: $out/report.png" >&2
}

if [ "$redraw" = 1 ]; then
  draw
  exit 0
fi

work="$(mktemp -d /tmp/report.XXXXXX)"
chmod 755 "$work"
srv="$work/server"
mounted=()
cleanup() {
  for m in ${mounted[@]+"${mounted[@]}"}; do fusermount3 -u "$m" 2>/dev/null || umount "$m" 2>/dev/null || true; done
  "$repo/tests/servers/stop.sh" "$srv" >/dev/null 2>&1 || true
  rm -rf /var/cache/davfs2/*report.* 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export RCLONE_CONFIG="$work/rclone.conf"
: >"$RCLONE_CONFIG"

# ---- the server and the data --------------------------------------------------------------
url="$(WEBDAV_SERVER_OWNER=none "$repo/tests/servers/start.sh" lighttpd "$srv" --auth none)"
root="$srv/root"
/usr/bin/python3 - "$root" "$entries" "$work" "$smalls" "$stats" "$url" <<'EOF'
import os, sys, urllib.parse
root, entries, work, smalls, stats, url = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
os.makedirs(root + "/big")
names = ["file %05d ü.txt" % i for i in range(entries)]
for i, name in enumerate(names):
    with open(root + "/big/" + name, "w") as f:
        f.write("x" * (i % 1000))
    os.utime(root + "/big/" + name, (1600000000 + i * 37, 1600000000 + i * 37))
# Small files to extract, as a tar archive.
os.makedirs(work + "/small/x")
for i in range(smalls):
    with open(work + "/small/x/small-%04d.txt" % i, "wb") as f:
        f.write(bytes([65 + i % 26]) * 4096)
# The paths to stat, for davctl and for a mount, and curl's list of the same requests.
with open(work + "/stat-paths", "w") as f:
    f.write("\0".join("/big/" + names[i % entries] for i in range(stats)))
body = '<?xml version="1.0" encoding="utf-8" ?><D:propfind xmlns:D="DAV:"><D:prop><D:resourcetype /><D:getcontentlength /><D:creationdate /><D:lastaccessed /><D:getlastmodified /></D:prop></D:propfind>'
with open(work + "/propfind.xml", "w") as f:
    f.write(body)
with open(work + "/curl-stats", "w") as f:
    for i in range(stats):
        f.write('url = "%s/big/%s"\noutput = "/dev/null"\n' % (url, urllib.parse.quote(names[i % entries])))
with open(work + "/curl-puts", "w") as f:
    for i in range(smalls):
        name = "small-%04d.txt" % i
        f.write('upload-file = "%s/small/x/%s"\nurl = "%s/DIR/%s"\noutput = "/dev/null"\n' % (work, name, url, name))
EOF
tar -C "$work/small" -cf "$work/small.tar" x
fallocate -l "$size" "$root/big.bin"
fallocate -l "$size" "$work/source.bin"
# Every client finds both in the page cache, not only those that come after the first.
cat "$root/big.bin" "$work/source.bin" >/dev/null
chown -R --reference="$root" "$root"
body="$(cat "$work/propfind.xml")"
mapfile -d '' stat_paths <"$work/stat-paths"

# ---- clients ------------------------------------------------------------------------------
mnt="$work/mnt"
mkdir -p "$mnt"
printf 'secrets %s\ndelay_upload 0\n' "$work/davfs2.secrets" >"$work/davfs2.conf"
printf '%s/ anonymous none\n' "$url" >"$work/davfs2.secrets"
chmod 600 "$work/davfs2.secrets"

mount_client() {
  case "$1" in
    davmount | davmount-direct)
      rm -rf "$work/davmount-cache"
      local options=()
      [ "$1" = davmount-direct ] && options=(-o direct_io)
      "$davmount" "${options[@]}" "$url/" "$mnt" --cache-dir "$work/davmount-cache" 2>>"$work/davmount.log" &
      ;;
    davfs2) mount.davfs "$url/" "$mnt" -o conf="$work/davfs2.conf" </dev/null 2>>"$work/davfs2.log" ;;
    rclone-mount)
      rm -rf "$work/rclone-cache"
      # Uploads start as soon as a file is closed (the default waits 5 s first).
      rclone mount :webdav: "$mnt" --webdav-url "$url/" --vfs-cache-mode writes --vfs-write-back 0s \
        --cache-dir "$work/rclone-cache" --daemon 2>>"$work/rclone.log"
      ;;
  esac
  mounted=("$mnt")
  for _ in $(seq 1 200); do mountpoint -q "$mnt" && return 0; sleep 0.05; done
  echo "report.sh: $1 did not mount" >&2
  return 1
}

unmount_client() {
  if [ "$1" = davfs2 ]; then umount "$mnt" >/dev/null; else fusermount3 -u "$mnt"; fi
  for _ in $(seq 1 600); do mountpoint -q "$mnt" || break; sleep 0.05; done
  wait 2>/dev/null || true
  mounted=()
  rm -rf /var/cache/davfs2/*report.* 2>/dev/null || true
}

# Until the server's disk holds a file of the given size / a folder of n files of 4 KiB.
wait_file() { while [ "$(stat -c %s "$1" 2>/dev/null || echo -1)" != "$2" ]; do sleep 0.01; done; }
wait_folder() {
  while [ "$(find "$1" -maxdepth 1 -type f -size 4096c 2>/dev/null | wc -l)" != "$2" ]; do sleep 0.01; done
}

dc() { "$davctl" "$url" "$@"; }
rc() { rclone --webdav-url "$url/" "$@"; }

# body CLIENT WORKLOAD TAG: the timed part. The mounted clients find the mount ready.
body() {
  local client="$1" workload="$2" tag="$3" m="$mnt"
  case "$client/$workload" in
    davctl/list) dc ls -l /big >/dev/null ;;
    davctl/stats) dc stat "${stat_paths[@]}" >/dev/null ;;
    davctl/read) dc get /big.bin - >/dev/null ;;
    davctl/write) dc put "$work/source.bin" "/$tag.bin" >/dev/null ;;
    curl/list) curl -sf -X PROPFIND -H "Depth: 1" -H "Content-Type: text/xml" --data "$body" "$url/big" -o /dev/null ;;
    curl/stats) curl -sf -X PROPFIND -H "Depth: 0" -H "Content-Type: text/xml" --data "$body" -K "$work/curl-stats" ;;
    curl/read) curl -sf "$url/big.bin" -o /dev/null ;;
    curl/write) curl -sf -T "$work/source.bin" "$url/$tag.bin" -o /dev/null ;;
    curl/extract)
      curl -sf -X MKCOL "$url/$tag/" -o /dev/null
      sed "s|/DIR/|/$tag/|" "$work/curl-puts" | curl -sf -K -
      curl -sf -X PROPFIND -H "Depth: 1" -H "Content-Type: text/xml" --data "$body" "$url/$tag/" -o /dev/null
      ;;
    rclone/list) rc lsjson :webdav:big >/dev/null ;;
    rclone/read) rc cat :webdav:big.bin >/dev/null ;;
    rclone/write) rc copyto "$work/source.bin" ":webdav:$tag.bin" ;;
    rclone/extract) rc copy "$work/small/x" ":webdav:$tag" && rc lsjson ":webdav:$tag" >/dev/null ;;
    */list) ls -l "$m/big" >/dev/null ;;
    */stats) (cd "$m" && stat "${stat_paths[@]#/}" >/dev/null) ;;
    */read) cat "$m/big.bin" >/dev/null ;;
    */write) cp "$work/source.bin" "$m/$tag.bin" && wait_file "$root/$tag.bin" "$size" ;;
    */extract)
      mkdir "$m/$tag" && tar -xf "$work/small.tar" -C "$m/$tag" && ls -l "$m/$tag/x" >/dev/null &&
        wait_folder "$root/$tag/x" "$smalls"
      ;;
    *) return 3 ;;
  esac
}

# Writes leave nothing behind for the next run.
tidy() { rm -rf "$root/$1" "$root/$1.bin"; }

supported() {
  case "$1/$2" in
    davctl/extract | rclone/stats) return 1 ;;
    # Without the page cache only the moving of file bytes changes.
    davmount-direct/read | davmount-direct/write) return 0 ;;
    davmount-direct/*) return 1 ;;
  esac
}

clients=(davctl davmount davmount-direct curl rclone rclone-mount davfs2)
workloads=(list stats read write extract)
if [ -n "$only" ]; then
  keep() { local name; for name in $only; do [ "$name" = "$1" ] && return 0; done; return 1; }
  picked=(); for c in "${clients[@]}"; do keep "$c" && picked+=("$c"); done; clients=("${picked[@]}")
  picked=(); for w in "${workloads[@]}"; do keep "$w" && picked+=("$w"); done; workloads=("${picked[@]}")
fi
times="$out/times.tsv"
printf 'workload\tclient\trun\tseconds\n' >"$times"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for run in $(seq 1 "$runs"); do
  for workload in "${workloads[@]}"; do
    # Clients take turns; the first to go moves on each run.
    n=${#clients[@]}
    for i in $(seq 0 $((n - 1))); do
      client="${clients[$(((i + run) % n))]}"
      supported "$client" "$workload" || continue
      tag="t-$client-$workload-$run"
      case "$client" in davmount | davmount-direct | davfs2 | rclone-mount) mount_client "$client" ;; esac
      # No client pays for the disk writes that an earlier one left behind.
      sync
      start=$(date +%s%N)
      status=0
      body "$client" "$workload" "$tag" || status=$?
      end=$(date +%s%N)
      case "$client" in davmount | davmount-direct | davfs2 | rclone-mount) unmount_client "$client" ;; esac
      tidy "$tag"
      if [ "$status" != 0 ]; then
        echo "report.sh: $client $workload failed ($status)" >&2
        continue
      fi
      seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
      printf '%s\t%s\t%s\t%s\n' "$workload" "$client" "$run" "$seconds" >>"$times"
      echo "$workload $client run $run: $seconds s" >&2
    done
  done
done
load="$(cut -d' ' -f1-3 /proc/loadavg)"
echo "load after: $load" >&2
printf 'entries=%s stats=%s size=%s smalls=%s load="%s at the end"\n' "$entries" "$stats" "$size" "$smalls" "$load" \
  >"$out/conditions"

draw
