#!/bin/sh
# Every latency benchmark of the program in one command: per-request latency beside /bin/true
# and two peers (git credential-store, secret-tool with a private GNOME keyring), the cost of
# a large store (100,000 credentials), and a 1,000,000-byte secret. Prints tables of medians
# and ratios; every figure of a table comes from one interleaved measurement in this run on
# this machine, and the goals are judged from those ratios (PASS/MISS).
#
# Timing: bench/spawn-median.c, a spawn loop of our own (posix_spawn, wait4, no shell in
# between), runs the cases of a table in rounds, one timed run of each case per round in a
# new shuffled order, so that load from elsewhere on the machine, and whatever one case
# leaves behind, touches every case alike. Hyperfine 1.15 has no
# option to feed standard input to a command, and with -N it cannot give each command its
# own environment; it is used for a cross-check of the same figures instead (-N, medians
# from --export-json).
#
# Usage: bench/run-all.sh   (as root: installs what it lacks; a few minutes)
set -eu
. "$(dirname "$0")/common.sh"
"$repo/scripts/install-packages.sh" gcc libc6-dev hyperfine sqlite3 git libsecret-tools gnome-keyring \
  dbus libglib2.0-bin >/dev/null
build_program

scratch=$(mktemp -d "${TMPDIR:-/var/tmp}/lupirane-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
spawn="$scratch/spawn-median"
cc -O2 -Wall -o "$spawn" "$repo/bench/spawn-median.c"
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

# The peers read no configuration of this user.
mkdir -p "$scratch/home"
export HOME="$scratch/home" GIT_CONFIG_NOSYSTEM=1
unset LUPIRANE_VAULT_ACTION LUPIRANE_VAULT_RESOURCE LUPIRANE_VAULT_USERNAME XDG_DATA_HOME || true
git=$(command -v git)
secret_tool=$(command -v secret-tool)

# vault STORE ACTION RESOURCE USER: one real request on the store in folder STORE.
vault() {
  XDG_DATA_HOME=$1 LUPIRANE_VAULT_ACTION=$2 LUPIRANE_VAULT_RESOURCE=$3 LUPIRANE_VAULT_USERNAME=$4 "$program"
}

# fill STORE RESOURCE FIRST LAST: adds user names userFIRST..userLAST (six digits) under
# RESOURCE, each with a 64-byte password, straight into the store's table in one transaction.
fill() {
  sqlite3 "$1/lupirane-vault/credentials.sqlite3" <<SQL
BEGIN;
WITH RECURSIVE n(i) AS (SELECT $3 UNION ALL SELECT i + 1 FROM n WHERE i < $4)
INSERT INTO credentials (resource, user_name, password)
SELECT CAST('$2' AS BLOB), CAST(printf('user%06d', i) AS BLOB), CAST(hex(randomblob(32)) AS BLOB) FROM n;
COMMIT;
SQL
}

# program_case NAME STORE ACTION RESOURCE USER [STATUS]: the case lines of one request.
program_case() {
  printf 'case %s\nenv XDG_DATA_HOME=%s\nenv LUPIRANE_VAULT_ACTION=%s\nenv LUPIRANE_VAULT_RESOURCE=%s\n' "$1" "$2" "$3" "$4"
  printf 'env LUPIRANE_VAULT_USERNAME=%s\nstatus %s\narg %s\n' "$5" "${6:-0}" "$program"
}

# check WHAT EXPECTED ACTUAL: stops the run when a set-up request did not do what it should.
check() {
  if [ "$2" != "$3" ]; then
    echo "run-all: $1: expected $2, got $3" >&2
    exit 1
  fi
}

# print_table RESULTS: rows "case|label|baseline case|goal" on standard input; prints the
# median, the middle half (p25-p75), the child's CPU time, the ratio to the baseline and,
# where a goal is given, PASS or MISS.
print_table() {
  printf '%-46s %9s %17s %8s %7s %-10s %s\n' "request" "median ms" "p25-p75 ms" "cpu ms" "ratio" "to" "goal"
  awk -F'\t' '
    NR == FNR { median[$1] = $2; low[$1] = $3; high[$1] = $4; cpu[$1] = $6; runs[$1] = $7; next }
    {
      split($0, field, "|")
      name = field[1]; base = field[3]; goal = field[4]
      ratio = "-"; verdict = ""
      if (base != "" && median[base] > 0) {
        r = median[name] / median[base]
        ratio = sprintf("%.2f", r)
        if (goal != "") verdict = sprintf("<= %s  %s", goal, (r <= goal + 0 ? "PASS" : "MISS"))
      }
      printf "%-46s %9.2f %8.2f-%-8.2f %8.2f %7s %-10s %s\n", field[2], median[name], low[name], high[name],
        cpu[name], ratio, (base == "" ? "-" : base), verdict
    }' "$1" - | tee -a "$scratch/tables"
}

# measure CASEFILE RESULTS ROUNDS WARMUP MAX_SECONDS
measure() { "$spawn" "$1" "$3" "$4" "$5" >"$2"; }

head -c 64 /dev/zero | tr '\0' s >"$scratch/secret-64"
head -c 1000000 /dev/zero | tr '\0' m >"$scratch/secret-1MB"

# ---------------------------------------------------------------------------------------
# 1. Per-request latency
t1="$scratch/store-requests"
vault "$t1" Set bench get-user <"$scratch/secret-64"
vault "$t1" Set bench set-user <"$scratch/secret-64"
vault "$t1" Set bench remove-user <"$scratch/secret-64"
vault "$t1" Set list user000000 <"$scratch/secret-64"
fill "$t1" list 1 999
check "Get hit" "$(cat "$scratch/secret-64")" "$(vault "$t1" Get bench get-user)"
check "List of 1,000" 1000 "$(vault "$t1" List list - | tr -cd , | wc -c | awk '{ print $1 + 1 }')"

mkdir -p "$scratch/git"
printf 'protocol=https\nhost=example.com\nusername=u\npassword=%s\n\n' "$(cat "$scratch/secret-64")" >"$scratch/git/store.in"
printf 'protocol=https\nhost=example.com\nusername=u\n\n' >"$scratch/git/get.in"
"$git" credential-store --file "$scratch/git/credentials" store <"$scratch/git/store.in"
check "git credential-store get" "password=$(cat "$scratch/secret-64")" \
  "$("$git" credential-store --file "$scratch/git/credentials" get <"$scratch/git/get.in" | grep '^password=')"

{
  printf 'case true\narg /bin/true\n'
  printf 'case dd-fsync\nin %s\narg %s\narg of=%s\narg bs=64\narg conv=fsync\narg status=none\n' \
    "$scratch/secret-64" "$(command -v dd)" "$scratch/dd.out"
  printf 'case start-only\nstatus 1\narg %s\n' "$program"
  program_case get-hit "$t1" Get bench get-user
  program_case get-miss "$t1" Get bench absent-user 3
  program_case set-64 "$t1" Set bench set-user
  printf 'in %s\n' "$scratch/secret-64"
  program_case remove "$t1" Remove bench remove-user
  printf 'prepare LUPIRANE_VAULT_ACTION=Set "%s" <"%s"\n' "$program" "$scratch/secret-64"
  program_case list-1000 "$t1" List list -
  printf 'case git-get\nin %s\narg %s\narg credential-store\narg --file\narg %s\narg get\n' \
    "$scratch/git/get.in" "$git" "$scratch/git/credentials"
  printf 'case git-store\nin %s\narg %s\narg credential-store\narg --file\narg %s\narg store\n' \
    "$scratch/git/store.in" "$git" "$scratch/git/credentials"
  printf 'case secret-lookup\narg %s\narg lookup\narg service\narg bench\narg user\narg u\n' "$secret_tool"
  printf 'case secret-store\nin %s\narg %s\narg store\narg --label=bench\narg service\narg bench\narg user\narg u\n' \
    "$scratch/secret-64" "$secret_tool"
} >"$scratch/requests.cases"

# The whole table is measured inside one private bus with the keyring up, so the peers'
# rows are interleaved with the others like any row.
# shellcheck disable=SC2016  # the inner script expands its own arguments
if ! dbus-run-session -- "$repo/bench/keyring-session.sh" "$scratch/keyring" sh -c \
  '"$1" store --label=bench service bench user u <"$2" && exec "$3" "$4" 101 5 120 >"$5"' \
  sh "$secret_tool" "$scratch/secret-64" "$spawn" "$scratch/requests.cases" "$scratch/requests.out" \
  2>"$scratch/session.log"; then
  cat "$scratch/session.log" >&2
  exit 1
fi

echo "1. Per-request latency: medians of $(awk -F'\t' 'NR == 1 { print $7 }' "$scratch/requests.out") interleaved runs each"
print_table "$scratch/requests.out" <<'ROWS'
true|/bin/true (floor: start a process)|true|
dd-fsync|dd of 64 bytes with one fsync (disk floor)|true|
start-only|lupirane-vault with no request (exit 1)|true|
get-hit|Get, found (64 bytes)|true|1.3
get-miss|Get, nothing stored (exit 3)|true|1.3
set-64|Set of 64 bytes, replacing the pair|true|2.5
remove|Remove of a stored pair|true|
list-1000|List of 1,000 names|true|2
git-get|git credential-store get|true|
git-store|git credential-store store (replaces)|true|
secret-lookup|secret-tool lookup (GNOME keyring)|true|
secret-store|secret-tool store (replaces)|true|
ROWS
cat <<'NOTE'
   The store holds the three pairs used and 1,000 names under the resource listed (filled
   with sqlite3). Set replaces the same pair every run. Remove: before each timed run an
   untimed Set stores the pair again, so every timed Remove deletes a stored pair (both are
   synced to disk). git credential-store writes its file by rename without fsync; secret-tool
   talks to gnome-keyring-daemon over a private session bus, the "login" collection unlocked.
   "No request": the program started without its variables, so it stops before opening
   the store (start-up and exit of the binary alone). cpu ms: user + system time of the
   child, from wait4.
NOTE

# Cross-check with hyperfine -N (no shell) of the row that needs no standard input. Hyperfine
# runs one command's runs in a block, so it is run in 6 short blocks of alternating order,
# and the median of the 6 ratios is shown.
block=0
while [ "$block" -lt 6 ]; do
  if [ $((block % 2)) -eq 0 ]; then first=/bin/true second=$program; else first=$program second=/bin/true; fi
  XDG_DATA_HOME="$t1" LUPIRANE_VAULT_ACTION=Get LUPIRANE_VAULT_RESOURCE=bench LUPIRANE_VAULT_USERNAME=get-user \
    hyperfine -N --warmup 5 --runs 30 --export-json "$scratch/hyperfine.json" "$first" "$second" \
    >/dev/null 2>"$scratch/hyperfine.log"
  grep -o '"median": *[0-9.eE+-]*' "$scratch/hyperfine.json" | awk '{ print $2 * 1000 }' | paste -s -d ' ' - |
    awk -v order=$((block % 2)) '{ if (order == 0) print $1, $2; else print $2, $1 }'
  block=$((block + 1))
done >"$scratch/hyperfine.medians"
awk '{ r[NR] = $2 / $1; t[NR] = $1; g[NR] = $2 }
  function median(a, n,   i, j, x) {
    for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j > 0 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END {
    n = NR; lo = 1e9; hi = 0
    for (i = 1; i <= n; i++) { if (r[i] < lo) lo = r[i]; if (r[i] > hi) hi = r[i] }
    printf "   hyperfine -N cross-check, 6 blocks of 30 runs: /bin/true %.2f ms, Get found %.2f ms (medians of block medians);\n", median(t, n), median(g, n)
    printf "   ratio %.2f (median of the block ratios; they ranged %.2f-%.2f)\n", median(r, n), lo, hi
  }' "$scratch/hyperfine.medians"
echo

# ---------------------------------------------------------------------------------------
# 2. Scale: 10 against 100,000 credentials, all under one resource ("scale", user names
#    user000000 to user099999); Get and Set work on a name in the middle of the range.
small="$scratch/store-10"
large="$scratch/store-100000"
vault "$small" Set scale user000000 <"$scratch/secret-64"
fill "$small" scale 1 9
vault "$large" Set scale user000000 <"$scratch/secret-64"
fill "$large" scale 1 99999
check "List of 100,000" 100000 "$(vault "$large" List scale - | tr -cd , | wc -c | awk '{ print $1 + 1 }')"
check "Get in 100,000" 64 "$(vault "$large" Get scale user050000 | wc -c | tr -d ' ')"
{
  printf 'case true\narg /bin/true\n'
  program_case get-10 "$small" Get scale user000005
  program_case get-100k "$large" Get scale user050000
  program_case set-10 "$small" Set scale user000005
  printf 'in %s\n' "$scratch/secret-64"
  program_case set-100k "$large" Set scale user050000
  printf 'in %s\n' "$scratch/secret-64"
  program_case list-10 "$small" List scale -
  program_case list-100k "$large" List scale -
} >"$scratch/scale.cases"
measure "$scratch/scale.cases" "$scratch/scale.out" 61 3 90

echo "2. Scale: medians of $(awk -F'\t' 'NR == 1 { print $7 }' "$scratch/scale.out") interleaved runs each"
print_table "$scratch/scale.out" <<'ROWS'
true|/bin/true|true|
get-10|Get, 10 stored|true|
get-100k|Get, 100,000 stored|get-10|1.2
set-10|Set of 64 bytes, 10 stored|true|
set-100k|Set of 64 bytes, 100,000 stored|set-10|1.2
list-10|List of 10 names|true|
list-100k|List of 100,000 names|true|
ROWS
printf '   List of 100,000 names against List of 10: %s; store file %s bytes.\n' \
  "$(ratio "$(awk -F'\t' '$1 == "list-100k" { print $2 }' "$scratch/scale.out")" \
    "$(awk -F'\t' '$1 == "list-10" { print $2 }' "$scratch/scale.out")")" \
  "$(wc -c <"$large/lupirane-vault/credentials.sqlite3" | tr -d ' ')"
cat <<'NOTE'
   All credentials are under one resource (the case that loads the resource index most);
   the first of each store came from a real Set, the rest were inserted with sqlite3 in one
   transaction. Get and Set use user000005 (10 stored) and user050000 (100,000 stored).
NOTE
echo

# ---------------------------------------------------------------------------------------
# 3. A 1,000,000-byte secret
t3="$scratch/store-large-secret"
vault "$t3" Set bench small-user <"$scratch/secret-64"
vault "$t3" Set bench large-user <"$scratch/secret-1MB"
check "Get of 1,000,000 bytes" 1000000 "$(vault "$t3" Get bench large-user | wc -c | tr -d ' ')"
{
  printf 'case true\narg /bin/true\n'
  program_case set-64 "$t3" Set bench small-user
  printf 'in %s\n' "$scratch/secret-64"
  program_case set-1MB "$t3" Set bench large-user
  printf 'in %s\n' "$scratch/secret-1MB"
  program_case get-64 "$t3" Get bench small-user
  program_case get-1MB "$t3" Get bench large-user
} >"$scratch/large.cases"
measure "$scratch/large.cases" "$scratch/large.out" 41 3 90

echo "3. A 1,000,000-byte secret: medians of $(awk -F'\t' 'NR == 1 { print $7 }' "$scratch/large.out") interleaved runs each"
print_table "$scratch/large.out" <<'ROWS'
true|/bin/true|true|
set-64|Set of 64 bytes|true|
set-1MB|Set of 1,000,000 bytes (replacing)|true|
set-1MB|Set of 1,000,000 bytes against 64 bytes|set-64|
get-64|Get of 64 bytes|true|
get-1MB|Get of 1,000,000 bytes (to /dev/null)|true|
get-1MB|Get of 1,000,000 bytes against 64 bytes|get-64|
ROWS
echo

# ---------------------------------------------------------------------------------------
passed=$(grep -c ' PASS$' "$scratch/tables" || true)
missed=$(grep -c ' MISS$' "$scratch/tables" || true)
echo "Goals: $passed PASS, $missed MISS"
grep ' MISS$' "$scratch/tables" | sed 's/^/   MISS: /' || true
echo "load at start: $load_at_start (1, 5, 15 min averages)"
machine_description "$scratch"
