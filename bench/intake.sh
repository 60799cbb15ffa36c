#!/bin/sh
# Secret intake: the time and memory to read standard input, against `wc -c` over the same
# pipe as the floor. Prints a table; all figures come from this one run on this machine.
set -eu
. "$(dirname "$0")/common.sh"
"$repo/scripts/install-packages.sh" time >/dev/null
ensure_program

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_DATA_HOME="$scratch/data"
request="LUPIRANE_VAULT_ACTION=Set LUPIRANE_VAULT_RESOURCE=bench LUPIRANE_VAULT_USERNAME=u"

head -c 1000000 /dev/zero | tr '\0' a >"$scratch/1MB"
head -c 1000000000 /dev/zero | tr '\0' a >"$scratch/1GB"
cat "$scratch/1GB" >/dev/null  # into the page cache

printf '%-44s %12s %12s %8s %14s %14s\n' "input" "floor ms" "program ms" "ratio" "floor RSS KiB" "program KiB"
for size in 1MB 1GB; do
  runs=31
  [ "$size" = 1GB ] && runs=5
  floor=$(median_ms "$runs" "cat $scratch/$size | wc -c")
  measured=$(median_ms "$runs" "cat $scratch/$size | env $request $program")
  floor_rss=$(peak_rss_kb "cat $scratch/$size | wc -c")
  measured_rss=$(peak_rss_kb "cat $scratch/$size | env $request $program")
  case $size in
    1MB) label="1,000,000 bytes (accepted and stored)" ;;
    1GB) label="1,000,000,000 bytes (read whole, refused)" ;;
  esac
  printf '%-44s %12s %12s %8s %14s %14s\n' "$label" "$floor" "$measured" "$(ratio "$measured" "$floor")" \
    "$floor_rss" "$measured_rss"
done
echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(uname -r)"
