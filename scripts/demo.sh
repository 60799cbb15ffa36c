#!/bin/sh
# Builds the Linux program and shows a round trip of requests against its store, kept in
# a throwaway data folder. Run from anywhere, as root on a fresh Debian 12 machine.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-packages.sh $(cat scripts/build-packages.txt)
# A tree of its own, without the test suites, so the demo needs no test packages.
cmake --preset native -B build/demo -DLUPIRANE_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo --target lupirane-vault >/dev/null
program="$PWD/build/demo/bin/lupirane-vault"

data_home=$(mktemp -d)
trap 'rm -rf "$data_home"' EXIT
export XDG_DATA_HOME="$data_home"

# request ACTION RESOURCE [USER] [SECRET]: one run of the program, shown as a host sees it.
request() {
  action=$1 resource=$2 user=${3-} secret=${4-}
  printf '\n$ LUPIRANE_VAULT_ACTION=%s LUPIRANE_VAULT_RESOURCE=%s' "$action" "$resource"
  [ -n "$user" ] && printf ' LUPIRANE_VAULT_USERNAME=%s' "$user"
  [ -n "$secret" ] && printf '   (standard input: %s)' "$secret"
  printf '\n'
  status=0
  output=$(printf '%s' "$secret" | env LUPIRANE_VAULT_ACTION="$action" LUPIRANE_VAULT_RESOURCE="$resource" \
    ${user:+LUPIRANE_VAULT_USERNAME="$user"} "$program" 2>"$data_home/stderr") || status=$?
  printf '  stdout: %s\n' "${output:-(nothing)}"
  [ -s "$data_home/stderr" ] && printf '  stderr: %s\n' "$(cat "$data_home/stderr")"
  printf '  exit status: %s\n' "$status"
}

echo "Store: $XDG_DATA_HOME/lupirane-vault/credentials.sqlite3"
request Set https://example.com alice 'correct horse'
request Set https://example.com bob 'battery staple'
request Get https://example.com alice
request List https://example.com
request Remove https://example.com alice
request Get https://example.com alice
request List https://example.com
request Fetch https://example.com
request Set https://example.com carol ''
