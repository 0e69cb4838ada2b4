#!/usr/bin/env bash
# Plants each deliberate fault of scripts/mutants.txt in the product code, one at a time, and runs
# two test suites against it: a fault is caught by a suite when some test that passes on the
# unchanged code fails (or hangs) with the fault in place. Used to show that a smaller suite still
# catches what a larger one did.
#
# Usage: scripts/mutants.sh [options] [ID...]        (IDs: only these faults; default: all)
#   --old REV      the first suite: tests/ as of REV (default: 85099b0, the suite before its rewrite;
#                  "none": the second suite alone)
#   --new REV      the second suite: tests/ as of REV, or "work" for the working tree (default: work)
#   --product REV  the product code: a revision, or "work" (default: work)
#   --work DIR     scratch folder (default: build-mutants); --list prints the fault IDs and exits
# Environment: MUTANTS_JOBS tests at once (default: the number of cores), MUTANTS_TIMEOUT seconds
# before a test counts as hanging (default 90), MUTANTS_BUILD_TYPE (default Release).
# Each suite gets its own copy of the product with its tests/ folder and its own build. The report
# (one line per fault, then totals) goes to stdout and DIR/report.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$(pwd)"

old_rev=85099b0 new_rev=work product=work work=build-mutants list=0
ids=()
while [ $# -gt 0 ]; do
  case "$1" in
    --old) old_rev="$2"; shift 2 ;;
    --new) new_rev="$2"; shift 2 ;;
    --product) product="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --list) list=1; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) ids+=("$1"); shift ;;
  esac
done
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# The fault list as "id<TAB>file<TAB>find<TAB>replace" records, newlines inside escaped as \n.
faults="$work/faults.tsv"
python3 - "$top/scripts/mutants.txt" >"$faults" <<'EOF'
import sys
block, blocks, key = {}, [], None
for line in open(sys.argv[1], encoding="utf-8").read().split("\n") + [""]:
    if line.startswith("#"):
        continue
    if not line.strip():
        if block: blocks.append(block); block, key = {}, None
        continue
    head, sep, rest = line.partition(": ")
    if sep and head in ("id", "file", "find", "replace"):
        key = head; block[key] = rest
    elif line.rstrip(":") in ("find", "replace"):
        key = line.rstrip(":"); block[key] = ""
    else:
        block[key] += "\n" + line
for b in blocks:
    print("\t".join(b[k].replace("\\", "\\\\").replace("\n", "\\n") for k in ("id", "file", "find", "replace")))
EOF
if [ "$list" = 1 ]; then cut -f1 "$faults"; exit 0; fi

# Source tree for one suite: the product (a revision or the working tree) with that suite's tests.
populate() {  # suite tests-rev
  local src="$work/$1/src"
  rm -rf "$src"; mkdir -p "$src"
  if [ "$product" = work ]; then
    git ls-files -z --cached --others --exclude-standard | grep -zv '^tests/' |
      xargs -0 cp --parents -t "$src" 2>/dev/null || true
  else
    git archive "$product" | tar -x -C "$src"
  fi
  rm -rf "$src/tests"
  if [ "$2" = work ]; then
    git ls-files -z --cached --others --exclude-standard tests | xargs -0 cp --parents -t "$src"
  else
    git archive "$2" tests | tar -x -C "$src"
  fi
  # The transport test of the suite before its rewrite has a body tap of the older kind (no
  # result); given one, the whole program stays in the comparison.
  sed -i 's/^void Tap(long status, const char\* data, size_t size, void\* record) {$/bool Tap(long status, const char* data, size_t size, void* record) {/; /^    to->body.append(data, size);$/{n;s/^}$/    return true;\n}/}' \
    "$src/tests/common/curlimpl_test.cpp"
}

# A test program that no longer builds against the product (the old suite against today's code)
# only counts as a test that fails without any fault; the product itself must build.
build() {  # suite
  cmake --build "$work/$1/build" -j"$(nproc)" -- -k >"$work/$1/build.log" 2>&1 ||
    ! grep -qE "CMakeFiles/(webdav|webdav_core|webdav_objs)\.dir.*Error" "$work/$1/build.log"
}

# Names of the failing tests of a run of the suite, one per line.
run_suite() {  # suite out-file
  local b="$work/$1/build"
  rm -f "$b/Testing/Temporary/LastTestsFailed.log"
  # A planted fault may make a test hang; its own timeout is long, so a watchdog ends any test
  # program of this build still running after $MUTANTS_TIMEOUT s (ctest counts it as failed).
  (while sleep 5; do
     for pid in $(pgrep -f "^$b/tests/"); do
       [ "$(ps -o etimes= -p "$pid" 2>/dev/null || echo 0)" -gt "${MUTANTS_TIMEOUT:-90}" ] && kill -9 "$pid" 2>/dev/null || true
     done
     # ... and the mounts such a test left behind (the mount point is davmount's last argument).
     for pid in $(pgrep -f "^$b/davmount "); do
       if [ "$(ps -o etimes= -p "$pid" 2>/dev/null || echo 0)" -gt "${MUTANTS_TIMEOUT:-90}" ]; then
         fusermount3 -u -z "$(tr '\0' '\n' <"/proc/$pid/cmdline" | tail -n 1)" 2>/dev/null || true
         kill -9 "$pid" 2>/dev/null || true
       fi
     done
   done) &
  local watchdog=$!
  (cd "$b" && ctest -j"${MUTANTS_JOBS:-$(nproc)}" >"$work/$1/ctest.log" 2>&1) || true
  kill "$watchdog" 2>/dev/null; wait "$watchdog" 2>/dev/null || true
  if [ -f "$b/Testing/Temporary/LastTestsFailed.log" ]; then
    cut -d: -f2- "$b/Testing/Temporary/LastTestsFailed.log" | sort >"$2"
  else
    : >"$2"
  fi
}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
suites=(old new)
[ "$old_rev" = none ] && suites=(new)  # the current suite alone, to look for gaps
declare -A rev=([old]="$old_rev" [new]="$new_rev")
for s in "${suites[@]}"; do
  echo "== preparing the $s suite (tests of ${rev[$s]}, product $product)"
  populate "$s" "${rev[$s]}"
  cmake -S "$work/$s/src" -B "$work/$s/build" -DWEBDAV_BENCH=OFF \
    -DCMAKE_BUILD_TYPE="${MUTANTS_BUILD_TYPE:-Release}" "${launcher[@]}" >/dev/null
  build "$s" || { echo "mutants.sh: the $s suite does not build; see $work/$s/build.log" >&2; exit 2; }
  run_suite "$s" "$work/$s/baseline"
  echo "   $(wc -l <"$work/$s/baseline") test(s) fail without any fault; they are not counted"
done

report="$work/report.txt"
printf '%-48s %-8s %-8s\n' fault old new | tee "$report"
declare -A caught=([old]=0 [new]=0)
total=0
while IFS=$'\t' read -r id file find replace; do
  if [ ${#ids[@]} -gt 0 ] && [[ ! " ${ids[*]} " =~ " $id " ]]; then continue; fi
  declare -A row=([old]=- [new]=-)
  for s in "${suites[@]}"; do
    target="$work/$s/src/$file"
    cp "$target" "$work/$s/saved"
    verdict=$(python3 - "$target" "$find" "$replace" <<'EOF'
import sys
path, find, replace = sys.argv[1:]
unescape = lambda t: t.encode().decode("unicode_escape").encode("latin-1").decode("utf-8")
find, replace = unescape(find), unescape(replace)
text = open(path, encoding="utf-8").read()
if text.count(find) != 1:
    print("absent" if find not in text else "ambiguous")
else:
    open(path, "w", encoding="utf-8").write(text.replace(find, replace))
    print("planted")
EOF
)
    if [ "$verdict" != planted ]; then
      row[$s]=$verdict
    elif ! build "$s"; then
      row[$s]=nobuild
    else
      run_suite "$s" "$work/$s/failed"
      if [ -n "$(comm -13 "$work/$s/baseline" "$work/$s/failed")" ]; then
        row[$s]=caught; caught[$s]=$((caught[$s] + 1))
      else
        row[$s]=MISSED
      fi
    fi
    cp "$work/$s/saved" "$target"
  done
  total=$((total + 1))
  printf '%-48s %-8s %-8s\n' "$id" "${row[old]}" "${row[new]}" | tee -a "$report"
done <"$faults"
for s in "${suites[@]}"; do build "$s" || true; done
printf '\n%d faults: the old suite caught %d, the new suite %d\n' "$total" "${caught[old]}" \
  "${caught[new]}" | tee -a "$report"
