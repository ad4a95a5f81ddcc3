#!/usr/bin/env bash
# The whole story against a local stand-in for the service, in one command:
# installs what is missing, builds, starts the stand-in on 127.0.0.1, then
# runs every operation through the library's code: authorization code to
# tokens, refresh, task lists, tasks of the first list, add "Buy milk", list,
# delete it, list; then the example host program. Nothing leaves this machine.
# Exits non-zero on the first step that does not go as it should.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TASKCLIENT_BUILD_DIR:-build}

scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev
mkdir -p "$build"
echo "Building the command-line tool, the local service and the example (log: $build/demo-build.log)"
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j"$(nproc)" --target taskclient_cli taskclient_local_service host_example_local; } \
     >"$build/demo-build.log" 2>&1; then
  tail -n 30 "$build/demo-build.log"
  echo "demo: the build failed" >&2
  exit 1
fi
cli=$(cd "$build/tools" && pwd)/taskclient
example=$(cd "$build/examples" && pwd)/host_example_local

work=$(mktemp -d)
service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}
trap 'stop_service; rm -rf "$work"' EXIT

"$build/tools/taskclient-local-service" >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 100); do
  grep -q '^authorization code: ' "$work/service.out" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
service=$(sed -n 's/^listening on //p' "$work/service.out")
code=$(sed -n 's/^authorization code: //p' "$work/service.out")
if [ -z "$service" ] || [ -z "$code" ]; then
  cat "$work/service.log" >&2
  echo "demo: the local service did not start" >&2
  exit 1
fi
echo
echo "Local service on $service (self-signed certificate, data in memory)."
echo "Authorization code it issued: $code"

fail() {
  echo
  echo "demo: FAILED: $*" >&2
  echo "--- the local service's log:" >&2
  cat "$work/service.log" >&2
  exit 1
}

# Long tokens shortened for display.
shown() {
  local word out=()
  for word in "$@"; do
    if [ ${#word} -gt 28 ]; then
      out+=("${word:0:24}...")
    elif [[ $word == *" "* ]]; then
      out+=("\"$word\"")
    else
      out+=("$word")
    fi
  done
  echo "${out[*]}"
}

reply=$work/reply.http
number=0
# step TITLE -- CLI ARGUMENTS: one exchange, its result code and status line.
step() {
  local title=$1
  shift 2
  number=$((number + 1))
  echo
  echo "$number. $title"
  echo "   \$ taskclient --service $service $(shown "$@")"
  local status=0
  "$cli" --service "$service" -o "$reply" --verbose "$@" >/dev/null 2>"$work/err" || status=$?
  sed -e 's/^result /   result: /' -e 's/^HTTP/   status: HTTP/' -e 's/^taskclient: /   error:  /' "$work/err"
  if [ "$status" -ne 0 ]; then
    [ -s "$reply" ] && "$cli" read "$reply" 2>/dev/null | head -n 12 | sed 's/^/   | /'
    fail "$title (exit status $status)"
  fi
}
# field PATH: a value from the last reply, read back out of the response file.
field() {
  "$cli" read "$reply" --field "$1" || fail "no $1 in the reply"
}
# show LABEL PATH: prints the value(s) at PATH in the last reply.
show() {
  local values
  values=$(field "$2" | paste -sd '|' - | sed 's/|/, /g')
  [ ${#values} -le 72 ] || values="${values:0:60}... (${#values} characters)"
  printf '   %-14s %s\n' "$1:" "${values:-(none)}"
}

step "Exchange the authorization code for tokens (GoogleTasksGetTokenSSL)" -- token "$code" demo-secret demo-client
show access_token access_token
show refresh_token refresh_token
show expires_in expires_in
refresh_token=$(field refresh_token)

step "Refresh the access token (GoogleTasksTokenRefreshSSL)" -- refresh "$refresh_token" demo-secret demo-client
show access_token access_token
token=$(field access_token)

step "List the task lists (GTaskListTasksSSL)" -- lists "$token"
show lists items.*.title
show "first list id" items.0.id
list=$(field items.0.id)

step "List the tasks of the first list (GTaskListTasksListSSL)" -- tasks "$token" "$list"
show tasks items.*.title

step "Add \"Buy milk\" (GTaskTaskAddSSL)" -- add "$token" "$list" "Buy milk"
show id id
show title title
show status status
task=$(field id)

step "List the tasks again" -- tasks "$token" "$list"
show tasks items.*.title
ids=$(field items.*.id)
grep -qx "$task" <<<"$ids" || fail "the added task is not listed"

step "Delete \"Buy milk\" (GTaskTaskDeleteSSL)" -- delete "$token" "$list" "$task"

step "List the tasks once more" -- tasks "$token" "$list"
show tasks items.*.title
ids=$(field items.*.id)
if grep -qx "$task" <<<"$ids"; then fail "the deleted task is still listed"; fi

number=$((number + 1))
echo
echo "$number. The example host program (examples/host_example.c), pointed at the local service"
echo "   \$ TASKCLIENT_SERVICE=$service $build/examples/host_example_local $(shown "$refresh_token" demo-secret demo-client "Buy bread")"
(cd "$work" && TASKCLIENT_SERVICE=$service "$example" "$refresh_token" demo-secret demo-client "Buy bread") \
  | sed 's/^/   /' || fail "the example host program"

step "List the tasks: the example's task is there" -- tasks "$token" "$list"
show tasks items.*.title
titles=$(field items.*.title)
grep -qx "Buy bread" <<<"$titles" || fail "the example's task is not listed"

stop_service
echo
echo "Every step succeeded; the local service is stopped."
