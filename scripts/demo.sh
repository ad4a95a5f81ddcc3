#!/usr/bin/env bash
# The whole story against a local stand-in for the service, in one command:
# installs what is missing, builds, starts the stand-in on 127.0.0.1, then
# runs every operation through the library's code: authorization code to
# tokens, the sign-in with a loopback redirect and PKCE, refresh, task lists,
# tasks of the first list, add "Buy milk", complete it, list every task page
# by page, delete it, list, and list with showDeleted to see it deleted; through the request for any task path: a task
# with notes and a due date made a subtask, moved to a new list, renamed,
# reopened, cleared, and the list deleted; the 120 tasks of "Backlog" over
# two pages; then the example host program, and the sync example three
# times, with a change made elsewhere between its runs. Nothing leaves this machine (curl, standing in
# for the browser, opens only the local service's sign-in page).
# Exits non-zero on the first step that does not go as it should.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TASKCLIENT_BUILD_DIR:-build}

scripts/install-deps.sh build-essential cmake pkg-config libssl-dev libgtest-dev curl
mkdir -p "$build"
echo "Building the command-line tool, the local service and the example (log: $build/demo-build.log)"
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j"$(nproc)" --target taskclient_cli taskclient_local_service host_example_local \
         sync_example_local; } \
     >"$build/demo-build.log" 2>&1; then
  tail -n 30 "$build/demo-build.log"
  echo "demo: the build failed" >&2
  exit 1
fi
cli=$(cd "$build/tools" && pwd)/taskclient
example=$(cd "$build/examples" && pwd)/host_example_local
sync_example=$(cd "$build/examples" && pwd)/sync_example_local

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

# More options for the stand-in, separated by blanks, e.g. --ids-begin-with-dash.
read -r -a service_args <<<"${TASKCLIENT_LOCAL_SERVICE_ARGS:-}"
"$build/tools/taskclient-local-service" "${service_args[@]}" >"$work/service.out" 2>"$work/service.log" &
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
# step TITLE -- [OPTIONS] COMMAND VALUES: one exchange, its result code and
# status line. The values go after "--", so that an id that begins with "--"
# (as about one in 4,096 of the service's do) is never read as an option.
step() {
  local title=$1
  shift 2
  local args=() found=0 takes_value=0 word
  for word in "$@"; do
    args+=("$word")
    if [ "$found" -eq 1 ]; then
      continue
    elif [ "$takes_value" -eq 1 ]; then
      takes_value=0
    elif [ "$word" = --redirect-uri ] || [ "$word" = --code-verifier ]; then
      takes_value=1
    elif [ "${word:0:1}" != - ]; then
      found=1
      args+=(--)
    fi
  done
  number=$((number + 1))
  echo
  echo "$number. $title"
  echo "   \$ taskclient --service $service $(shown "$@")"
  local status=0
  rm -f "$reply" "$reply".*
  "$cli" --service "$service" --raw -o "$reply" --verbose "${args[@]}" >/dev/null 2>"$work/err" || status=$?
  sed -e 's/^\(page [0-9]*: \)\{0,1\}result /   \1result: /' -e 's/^\(page [0-9]*: \)\{0,1\}HTTP/   \1status: HTTP/' \
      -e 's/^taskclient: /   error:  /' "$work/err"
  if [ "$status" -ne 0 ]; then
    # The last reply written: the response file, or the highest page of it.
    local last="" page=1
    [ -e "$reply" ] && last=$reply
    while [ -e "$reply.$page" ]; do last=$reply.$page; page=$((page + 1)); done
    [ -n "$last" ] && [ -s "$last" ] && "$cli" read "$last" 2>/dev/null | sed -n '1,12s/^/   | /p'
    fail "$title (exit status $status)"
  fi
}
# field PATH: a value from the last reply, read back out of the response file.
field() {
  "$cli" read "$reply" --field "$1" || fail "no $1 in the reply"
}
# line LABEL TEXT: one line of a step's outcome, long text shortened.
line() {
  local text=$2
  [ ${#text} -le 82 ] || text="${text:0:64}... (${#text} characters)"
  printf '   %-14s %s\n' "$1:" "${text:-(none)}"
}
# show LABEL PATH: prints the value(s) at PATH in the last reply.
show() {
  line "$1" "$(field "$2" | paste -sd '|' - | sed 's/|/, /g')"
}
# all_field PATH: the values at PATH over every page "tasks --all" wrote.
all_field() {
  local page=1
  while [ -e "$reply.$page" ]; do
    "$cli" read "$reply.$page" --field "$1" || fail "no $1 on page $page"
    page=$((page + 1))
  done
}
# titles_and_statuses: "title (status)" for every task over every page.
titles_and_statuses() {
  paste -d ' ' <(all_field 'items.*.title') <(all_field 'items.*.status' | sed 's/.*/(&)/')
}
# show_pages: one line per page of the last "tasks --all".
show_pages() {
  local page=1 count next
  while [ -e "$reply.$page" ]; do
    count=$("$cli" read "$reply.$page" --field 'items.*.id' | wc -l)
    next=$("$cli" read "$reply.$page" --field nextPageToken 2>/dev/null || true)
    line "page $page" "$count tasks${next:+, nextPageToken $next}"
    page=$((page + 1))
  done
}

step "Exchange the authorization code for tokens (GoogleTasksGetTokenSSL)" -- token "$code" demo-secret demo-client
show access_token access_token
show refresh_token refresh_token
show expires_in expires_in
refresh_token=$(field refresh_token)

# The sign-in the service allows today: a loopback redirect with PKCE.
redirect=http://127.0.0.1:8765
number=$((number + 1))
echo
echo "$number. Make the authorization URL for a loopback redirect with PKCE (no exchange)"
echo "   \$ taskclient --service $service auth-url --redirect-uri $redirect demo-client"
"$cli" --service "$service" auth-url --redirect-uri "$redirect" demo-client >"$work/auth" || fail "auth-url"
verifier=$(sed -n 's/^code_verifier: //p' "$work/auth")
url=$(sed -n 's/^authorization_url: //p' "$work/auth")
line code_verifier "$verifier"
# One query field a line.
# shellcheck disable=SC2001 # one substitution per query field, each on its own line
sed -e 's/&/\n\&/g' <<<"$url" | sed -e '1s/^/   URL:           /' -e '2,$s/^/                    /'

number=$((number + 1))
echo
echo "$number. Open it as a browser would (curl here): the sign-in page sends the browser to $redirect with a code"
echo "   \$ curl -sk -o /dev/null -w '%{redirect_url}' \"\$URL\""
location=$(curl -sk --noproxy '*' --max-time 10 -o /dev/null -w '%{redirect_url}' "$url") || fail "opening the sign-in page"
line redirect "$location"
raw_code=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$location")
[ -n "$raw_code" ] || fail "no code in the redirect"
pkce_code=$(printf '%b' "${raw_code//%/\\x}")
line code "$pkce_code"

step "Exchange that code with the verifier (GoogleTasksGetTokenPkceSSL)" -- \
  --pkce --redirect-uri "$redirect" --code-verifier "$verifier" token "$pkce_code" demo-secret demo-client
show access_token access_token
show refresh_token refresh_token
refresh_token=$(field refresh_token)

step "Refresh the access token (GoogleTasksTokenRefreshSSL)" -- refresh "$refresh_token" demo-secret demo-client
show access_token access_token
token=$(field access_token)

step "List the task lists (GTaskListTasksSSL)" -- lists "$token"
show lists items.*.title
show "first list id" items.0.id
list=$(field items.0.id)
backlog=$(paste -d ' ' <(field 'items.*.id') <(field 'items.*.title') | sed -n 's/ Backlog$//p')
[ -n "$backlog" ] || fail "no list called Backlog"

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
grep -qx -e "$task" <<<"$ids" || fail "the added task is not listed"

step "Complete \"Buy milk\" (GTaskTaskCompleteSSL)" -- complete "$token" "$list" "$task"
show status status
show completed completed
[ "$(field status)" = completed ] || fail "the task is not completed"

step "List every task of the list, page by page (GTaskListTasksListPageSSL)" -- --all tasks "$token" "$list"
show_pages
line tasks "$(titles_and_statuses | paste -sd '|' - | sed 's/|/, /g')"
grep -qx "Buy milk (completed)" <<<"$(titles_and_statuses)" || fail "the task is not listed as completed"

step "Delete \"Buy milk\" (GTaskTaskDeleteSSL)" -- delete "$token" "$list" "$task"

step "List the tasks once more" -- tasks "$token" "$list"
show tasks items.*.title
ids=$(field items.*.id)
if grep -qx -e "$task" <<<"$ids"; then fail "the deleted task is still listed"; fi

step "List with showDeleted=true: the service keeps \"Buy milk\", deleted (GTaskRequestSSL)" -- \
  request "$token" GET "/tasks/v1/lists/$list/tasks?showDeleted=true"
ids=$(field items.*.id)
at=$(grep -nx -e "$task" <<<"$ids" | cut -d: -f1) || true
[ -n "$at" ] || fail "the deleted task is not listed with showDeleted"
show title "items.$((at - 1)).title"
show deleted "items.$((at - 1)).deleted"
show updated "items.$((at - 1)).updated"
[ "$(field "items.$((at - 1)).deleted")" = true ] || fail "the task is not listed as deleted"

step "Add a task with notes and a due date (GTaskRequestSSL)" -- \
  request "$token" POST "/tasks/v1/lists/$list/tasks" \
  '{"title": "Plan the trip", "notes": "Tickets and hotel", "due": "2026-12-24T00:00:00.000Z"}'
show notes notes
show due due
trip=$(field id)

step "Add \"Holidays\" (GTaskRequestSSL)" -- request "$token" POST "/tasks/v1/lists/$list/tasks" '{"title": "Holidays"}'
holidays=$(field id)

step "Make the trip a subtask of \"Holidays\" (move with parent)" -- \
  request "$token" POST "/tasks/v1/lists/$list/tasks/$trip/move?parent=$holidays"
show parent parent
[ "$(field parent)" = "$holidays" ] || fail "the task is not a subtask of Holidays"

step "Create a list \"Trips\"" -- request "$token" POST /tasks/v1/users/@me/lists '{"title": "Trips"}'
trips=$(field id)

step "Move the trip to \"Trips\" (move with destinationTasklist)" -- \
  request "$token" POST "/tasks/v1/lists/$list/tasks/$trip/move?destinationTasklist=$trips"

step "Rename it (PATCH)" -- request "$token" PATCH "/tasks/v1/lists/$trips/tasks/$trip" '{"title": "Plan the winter trip"}'
show title title

step "Complete it" -- complete "$token" "$trips" "$trip"
show status status

step "Reopen it (PATCH back to needsAction)" -- \
  request "$token" PATCH "/tasks/v1/lists/$trips/tasks/$trip" '{"status": "needsAction", "completed": null}'
show status status
[ "$(field status)" = needsAction ] || fail "the task is not open again"

step "Complete it again" -- complete "$token" "$trips" "$trip"
step "Clear the completed tasks of \"Trips\" (POST .../clear)" -- request "$token" POST "/tasks/v1/lists/$trips/clear"

step "List \"Trips\": a cleared task is hidden" -- tasks "$token" "$trips"
line tasks "$(field 'items.*.id' 2>/dev/null | wc -l)"
ids=$(field 'items.*.id' 2>/dev/null || true)
if grep -qx -e "$trip" <<<"$ids"; then fail "the cleared task is still listed"; fi

step "Delete the list \"Trips\"" -- request "$token" DELETE "/tasks/v1/users/@me/lists/$trips"
step "Delete \"Holidays\"" -- request "$token" DELETE "/tasks/v1/lists/$list/tasks/$holidays"

step "List the tasks of \"Backlog\" the plain way: the service's first page only" -- tasks "$token" "$backlog"
line tasks "$(field 'items.*.id' | wc -l) of 120, hidden completed ones left out"
show nextPageToken nextPageToken

step "List every task of \"Backlog\", page by page: the second page through the page token" -- \
  --all tasks "$token" "$backlog"
show_pages
count=$(all_field 'items.*.id' | wc -l)
done_count=$(all_field 'items.*.status' | grep -cx completed || true)
line tasks "$count in all, $done_count of them completed"
[ "$count" -eq 120 ] && [ -e "$reply.2" ] || fail "expected 120 tasks over two pages"

number=$((number + 1))
echo
echo "$number. The example host program (examples/host_example.c), pointed at the local service"
echo "   \$ TASKCLIENT_SERVICE=$service $build/examples/host_example_local $(shown "$refresh_token" demo-secret demo-client "Buy bread")"
(cd "$work" && TASKCLIENT_SERVICE=$service "$example" "$refresh_token" demo-secret demo-client "Buy bread") \
  | sed 's/^/   /' || fail "the example host program"

step "List the tasks: the example's task is there, completed" -- --all tasks "$token" "$list"
line tasks "$(titles_and_statuses | paste -sd '|' - | sed 's/|/, /g')"
grep -qx "Buy bread (completed)" <<<"$(titles_and_statuses)" || fail "the example's task is not listed as completed"

# sync_run N: the sync example's run N, its output indented and kept in
# $work/sync.N.
sync_run() {
  number=$((number + 1))
  echo
  echo "$number. The sync example (examples/sync_example.c), run $1: every list's changes in one call, the local ones in another"
  echo "   \$ TASKCLIENT_SERVICE=$service $build/examples/sync_example_local $(shown "$refresh_token" demo-secret demo-client "Synced $1")"
  (cd "$work" && TASKCLIENT_SERVICE=$service "$sync_example" "$refresh_token" demo-secret demo-client "Synced $1") \
    >"$work/sync.$1" || { sed 's/^/   /' "$work/sync.$1"; fail "the sync example, run $1"; }
  sed 's/^/   /' "$work/sync.$1"
}
sync_run 1
step "Change a task elsewhere, between two syncs" -- add "$token" "$list" "Changed elsewhere"
sync_run 2
grep -q '"Changed elsewhere" needsAction' "$work/sync.2" || fail "the second sync does not see the change made elsewhere"
grep -q '"Synced 1" needsAction' "$work/sync.2" || fail "the second sync does not see the first one's task"
grep -q "the last run's task is completed" "$work/sync.2" || fail "the second sync did not complete the first one's task"
if grep -q -e 'Backlog item 001' "$work/sync.2"; then fail "the second sync lists tasks that did not change"; fi
sync_run 3
grep -q "the task completed before it is deleted" "$work/sync.3" || fail "the third sync did not delete the first one's task"

stop_service
echo
echo "Every step succeeded; the local service is stopped."
