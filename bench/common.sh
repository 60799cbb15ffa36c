# Shared helpers of the benchmark scripts: timing with medians, and the program under test.
# Sourced, not run.

repo=$(cd "$(dirname "$0")/.." && pwd)
program="$repo/build/native/bin/lupirane-vault"

ensure_program() {
  if [ ! -x "$program" ]; then
    cmake --preset native -S "$repo" >/dev/null
    cmake --build "$repo/build/native" --target lupirane-vault >/dev/null
  fi
}

# median_ms RUNS COMMAND: runs the shell command RUNS times, prints the median wall time in ms.
median_ms() {
  runs=$1
  shift
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    sh -c "$*" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
    i=$((i + 1))
  done | sort -n | awk '{ a[NR] = $1 } END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; printf "%.3f\n", m / 1000 }'
}

# peak_rss_kb COMMAND: the peak resident memory of the last process of a shell command, in KiB.
peak_rss_kb() {
  /usr/bin/time -f '%M' -o "$scratch/rss" sh -c "$*" >/dev/null 2>&1 || true
  tail -n 1 "$scratch/rss"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# build_program: builds the program when it is missing or older than a file under src/ or a
# CMake file (an up-to-date program is left alone, so no second build runs in the tree).
build_program() {
  if [ -x "$program" ] && [ -z "$(find "$repo/src" "$repo/CMakeLists.txt" "$repo/CMakePresets.json" "$repo/cmake" \
    -newer "$program" -type f 2>/dev/null | head -n 1)" ]; then
    return 0
  fi
  if [ ! -f "$repo/build/native/CMakeCache.txt" ]; then
    (cd "$repo" && cmake --preset native >/dev/null)
  fi
  cmake --build "$repo/build/native" --target lupirane-vault >/dev/null
}

# machine_description: cores, CPU, memory, kernel and the disk under FOLDER.
machine_description() {
  folder=$1
  cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
  memory=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  device=$(df -P "$folder" | awk 'NR == 2 { print $1 }')
  fs=$(df -PT "$folder" | awk 'NR == 2 { print $2 }')
  rotational="?"
  name=$(basename "$device")
  [ -r "/sys/block/$name/queue/rotational" ] && rotational=$(cat "/sys/block/$name/queue/rotational")
  echo "machine: $(nproc) cores ($cpu), $memory memory, kernel $(uname -r) $(uname -m)"
  echo "disk:    $folder on $device ($fs, rotational=$rotational as the kernel reports it, $(df -Ph "$folder" | awk 'NR == 2 { print $2 }'))"
  echo "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min averages, now)"
}
