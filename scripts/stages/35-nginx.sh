#!/usr/bin/env bash
# A sequence of requests against real nginx with a keep-alive limit of 1, 2
# and 3 requests a connection: `taskclient requests` (GTaskRequestsSSL's
# internal function) must get every reply whole, in order, on as few
# connections as the limit allows, each connection after the first resuming
# the first one's TLS session. nginx answers the GETs from files and the
# POST and PATCH with 405, a reply like any other. It runs in a private
# network namespace of its own with only its loopback interface up, on a
# throwaway self-signed certificate.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh nginx openssl
cli=$(pwd)/build/tools/taskclient
[ -x "$cli" ] || scripts/build.sh >/dev/null

if [ "${1:-}" != "--inside" ]; then
  namespace=(unshare --net)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --net)
  exec "${namespace[@]}" bash "$0" --inside
fi
ip link set lo up

work=$(mktemp -d)
trap 'kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -out "$work/cert.pem" -days 1 -subj "/CN=localhost" 2>/dev/null
mkdir -p "$work/root/tasks/v1/users/@me" "$work/root/tasks/v1/lists/L1" "$work/logs"
printf '{"kind": "tasks#taskLists", "items": []}' >"$work/root/tasks/v1/users/@me/lists"
printf '{"kind": "tasks#tasks", "items": [%s]}' "$(printf '{"title": "%0500d"},' 1 2 3 4 5 6 7 8)0" \
  >"$work/root/tasks/v1/lists/L1/tasks"

# Seven requests: GETs pipelined, a POST and a PATCH on their own.
cat >"$work/requests" <<'EOF'
GET /tasks/v1/users/@me/lists
GET /tasks/v1/lists/L1/tasks
POST /tasks/v1/lists/L1/tasks {"title": "Buy milk"}
GET /tasks/v1/users/@me/lists
GET /tasks/v1/lists/L1/tasks
PATCH /tasks/v1/lists/L1/tasks/T1 {"status": "completed"}
GET /tasks/v1/lists/L1/tasks
EOF
expected="HTTP/1.1 200 OK
HTTP/1.1 200 OK
HTTP/1.1 405 Not Allowed
HTTP/1.1 200 OK
HTTP/1.1 200 OK
HTTP/1.1 405 Not Allowed
HTTP/1.1 200 OK"

for limit in 1 2 3; do
  port=$((8440 + limit))
  cat >"$work/nginx.conf" <<EOF
daemon on;
master_process off;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  log_format conn '\$connection \$connection_requests \$ssl_session_reused \$request_method \$status';
  access_log $work/logs/access.$limit.log conn;
  client_body_temp_path $work/logs; proxy_temp_path $work/logs; fastcgi_temp_path $work/logs;
  uwsgi_temp_path $work/logs; scgi_temp_path $work/logs;
  keepalive_requests $limit;
  ssl_session_cache shared:tls:1m;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    root $work/root;
    default_type application/json;
  }
}
EOF
  nginx -c "$work/nginx.conf" -p "$work"
  status=0
  output=$("$cli" --service "127.0.0.1:$port" requests ya29.token "$work/requests" 2>"$work/stderr") || status=$?
  pid=$(cat "$work/nginx.pid")
  kill "$pid"
  while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  # The 405s make the exit status 7 (a 4xx reply); every reply
  # must be there, in order, and the call itself complete.
  errors=$(cat "$work/stderr")
  if [ "$output" != "$expected" ] || [ "$status" -ne 7 ] || [[ $errors == *"result "* ]]; then
    echo "nginx, keep-alive limit $limit: exit $status, output:"; echo "$output"; echo "$errors"
    exit 1
  fi
  log=$(cat "$work/logs/access.$limit.log")
  connections=$(awk '{ print $1 }' <<<"$log" | sort -u | wc -l)
  want=$(( (7 + limit - 1) / limit ))
  # Every connection after the first resumes a session ("r").
  fresh=$(awk '$2 == 1 && $3 != "r"' <<<"$log" | wc -l)
  if [ "$(wc -l <<<"$log")" -ne 7 ] || [ "$connections" -ne "$want" ] || [ "$fresh" -ne 1 ]; then
    echo "nginx, keep-alive limit $limit: $connections connections (want $want), $fresh full handshakes (want 1):"
    echo "$log"
    exit 1
  fi
  echo "nginx, keep-alive limit $limit: 7 replies in order on $connections connections, $((connections - 1)) resumed"
done
