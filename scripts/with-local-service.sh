#!/usr/bin/env bash
# Runs COMMAND against the local stand-in for the service with the library as
# it ships: the host name stays www.googleapis.com and the port 443, but in a
# private network and mount namespace where that name is 127.0.0.1 and the
# stand-in listens there. Nothing leaves the machine: the namespace has only
# its own loopback interface.
#
#   scripts/with-local-service.sh COMMAND [ARGUMENT...]
#
# COMMAND runs with these variables set:
#   TASKCLIENT_LOCAL_CODE            the authorization code the stand-in issued for
#                                    the out-of-band redirect (GoogleTasksGetTokenSSL)
#   TASKCLIENT_LOCAL_PKCE_CODE       a code issued through the sign-in page for
#   TASKCLIENT_LOCAL_PKCE_VERIFIER   TASKCLIENT_LOCAL_REDIRECT_URI with the S256
#   TASKCLIENT_LOCAL_REDIRECT_URI    challenge of the verifier (GoogleTasksGetTokenPkceSSL)
#   TASKCLIENT_LOCAL_SIGNIN_URL      the sign-in page, for more codes
#   TASKCLIENT_LOCAL_LOG             the stand-in's log, one line per request
# Each code is good for one token request. Any client id and secret will do.
#
# TASKCLIENT_LOCAL_SERVICE_ARGS, when set, holds more options for the stand-in,
# separated by blanks: "--ids-begin-with-dash" makes every id it hands out
# begin with '-' (see taskclient-local-service --help).
#
# Exits with COMMAND's status once the stand-in is stopped (2 for a usage
# error, 125 when the stand-in could not be set up). Runs as root, or where
# unprivileged user namespaces are allowed. Builds first (scripts/build.sh)
# when the stand-in is missing; TASKCLIENT_BUILD_DIR names another build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${TASKCLIENT_LOCAL_NAMESPACE:-}" ]; then
  if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
  fi
  build=$(cd "$here" && mkdir -p "${TASKCLIENT_BUILD_DIR:-build}" && cd "${TASKCLIENT_BUILD_DIR:-build}" && pwd)
  service=$build/tools/taskclient-local-service
  if [ ! -x "$service" ]; then
    if [ "$build" = "$here/build" ]; then
      "$here/scripts/build.sh" >&2
    else
      cmake --build "$build" -j2 --target taskclient_local_service >&2
    fi
  fi
  "$here/scripts/install-deps.sh" util-linux iproute2 curl openssl >&2
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  namespace=(unshare --net --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --net --mount --propagation private)
  status=0
  TASKCLIENT_LOCAL_NAMESPACE=$work TASKCLIENT_LOCAL_SERVICE_BINARY=$service \
    "${namespace[@]}" -- bash "$here/scripts/with-local-service.sh" "$@" || status=$?
  exit "$status"
fi

# Inside the namespace.
work=$TASKCLIENT_LOCAL_NAMESPACE
unset TASKCLIENT_LOCAL_NAMESPACE
setup_failed() {
  echo "with-local-service: $*" >&2
  [ -s "$work/service.log" ] && sed 's/^/  stand-in: /' "$work/service.log" >&2
  exit 125
}

ip link set lo up || setup_failed "cannot bring up the loopback interface"
# The API host (and the sign-in host, whose page the stand-in serves too)
# resolve to the loopback address, from the hosts file alone.
printf '127.0.0.1\tlocalhost www.googleapis.com accounts.google.com\n::1\tlocalhost\n' \
  >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts || setup_failed "cannot mount a private /etc/hosts"
if [ -e /etc/nsswitch.conf ]; then
  printf 'hosts: files\n' >"$work/nsswitch.conf"
  mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf || setup_failed "cannot mount a private /etc/nsswitch.conf"
fi

read -r -a service_args <<<"${TASKCLIENT_LOCAL_SERVICE_ARGS:-}"
"$TASKCLIENT_LOCAL_SERVICE_BINARY" --port 443 "${service_args[@]}" >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
unset TASKCLIENT_LOCAL_SERVICE_BINARY
stop_service() {
  kill -TERM "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
}
trap stop_service EXIT
for _ in $(seq 100); do
  grep -q '^authorization code: ' "$work/service.out" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
code=$(sed -n 's/^authorization code: //p' "$work/service.out")
[ -n "$code" ] || setup_failed "the stand-in did not start"
signin=https://accounts.google.com/o/oauth2/v2/auth

# A second code, through the sign-in page with a loopback redirect and PKCE,
# as a browser would fetch it (curl; the certificate is the stand-in's own).
verifier=$(openssl rand -hex 32)
challenge=$(printf '%s' "$verifier" | openssl dgst -sha256 -binary | openssl base64 -A | tr '+/' '-_' | tr -d '=')
redirect=http://127.0.0.1:8765
location=$(curl -sk --noproxy '*' --max-time 10 -o /dev/null -w '%{redirect_url}' \
  "$signin?response_type=code&client_id=local-client&redirect_uri=http%3A%2F%2F127.0.0.1%3A8765&scope=https%3A%2F%2Fwww.googleapis.com%2Fauth%2Ftasks&code_challenge=$challenge&code_challenge_method=S256") ||
  setup_failed "the sign-in page did not answer"
raw=$(sed -n 's/.*[?&]code=\([^&]*\).*/\1/p' <<<"$location")
[ -n "$raw" ] || setup_failed "no code from the sign-in page: $location"
pkce_code=$(printf '%b' "${raw//%/\\x}")

status=0
TASKCLIENT_LOCAL_CODE=$code TASKCLIENT_LOCAL_PKCE_CODE=$pkce_code TASKCLIENT_LOCAL_PKCE_VERIFIER=$verifier \
  TASKCLIENT_LOCAL_REDIRECT_URI=$redirect TASKCLIENT_LOCAL_SIGNIN_URL=$signin TASKCLIENT_LOCAL_LOG=$work/service.log \
  "$@" || status=$?
stop_service
trap - EXIT
exit "$status"
