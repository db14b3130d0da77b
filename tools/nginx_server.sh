#!/usr/bin/env bash
# nginx (Debian's package) as a local HTTPS patch server for the tests and scripts/bench: a real
# production server beside tools/patch_server.py, for keep-alive, reconnects, Range and If-Range.
#
#   nginx_server.sh start --root WWW --certs CERTS --port N --state DIR
#   nginx_server.sh stop --state DIR
#
# It listens on 127.0.0.1 only and serves WWW (GET/HEAD, static files) on three ports:
#   N    certificate CERTS/server.pem (127.0.0.1, from the test CA), normal keep-alive;
#   N+1  the same certificate, `keepalive_requests 1`: every response closes its connection, so a
#        client must reconnect for each request;
#   N+2  `keepalive_requests 1`, certificate and key read at every TLS handshake from DIR/switch.pem and
#        DIR/switch.key (copies of server.pem/.key at start): a test that overwrites these two files
#        (e.g. with CERTS/wrong-host.pem/.key) changes what the next connection presents, while the
#        connections before it were served with the good certificate.
# ETag, Last-Modified, Range (206) and If-Range are nginx's defaults for static files. Any URL with a
# path segment "throttled" is sent at 256 KB/s, so a test can catch a transfer in flight.
#
# Everything lives in DIR (made if missing): nginx.conf, nginx.pid, error.log, temp folders, and
# access.log, one line per request:
#   <port> <connection serial> <request number on it> "<request line>" <status> <body bytes> "<Range>" "<If-Range>"
# The connection serial ($connection) is unique per TCP connection, so distinct values count connections.
# Started as root, the workers run as the calling user (they read the switch key at every handshake);
# nothing is written outside DIR. `start` returns once all three ports accept connections; `stop` ends
# the master whose pid DIR/nginx.pid holds and waits for it.
set -euo pipefail

usage() { echo "usage: $0 start --root WWW --certs CERTS --port N --state DIR | stop --state DIR" >&2; exit 2; }

action=${1:-}; shift || true
root= certs= port= state=
while [ $# -gt 0 ]; do
    case $1 in
        --root) root=$2; shift 2 ;;
        --certs) certs=$2; shift 2 ;;
        --port) port=$2; shift 2 ;;
        --state) state=$2; shift 2 ;;
        *) usage ;;
    esac
done
[ -n "$state" ] || usage

readonly THROTTLED_RATE=256k
readonly START_TIMEOUT_TENTHS=100

# server_block PORT CERT KEY EXTRA: one listening port of the shared static site.
server_block() {
    cat <<BLOCK
    server {
        listen 127.0.0.1:$1 ssl;
        root $root;
        access_log $state/access.log vyr;
        ssl_certificate $2;
        ssl_certificate_key $3;
        $4
        location / { }
        location ~ /throttled/ { limit_rate $THROTTLED_RATE; }
    }
BLOCK
}

write_config() {
    local user_line=""
    # The user directive is honoured only when started as root; otherwise nginx warns, so leave it out.
    [ "$(id -u)" = 0 ] && user_line="user $(id -un) $(id -gn);"
    cat >"$state/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $state/nginx.pid;
error_log $state/error.log warn;
events { worker_connections 256; }
http {
    default_type application/octet-stream;
    access_log off;
    log_format vyr '\$server_port \$connection \$connection_requests "\$request" \$status \$body_bytes_sent '
                   '"\$http_range" "\$http_if_range"';
    client_body_temp_path $state/tmp/body;
    proxy_temp_path $state/tmp/proxy;
    fastcgi_temp_path $state/tmp/fastcgi;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    server_tokens off;
    sendfile on;
    # A map is evaluated at each handshake, so nginx reads the switch certificate afresh every time.
    map \$server_port \$switch_cert { default $state/switch.pem; }
    map \$server_port \$switch_key { default $state/switch.key; }
$(server_block "$port" "$certs/server.pem" "$certs/server.key" "")
$(server_block $((port + 1)) "$certs/server.pem" "$certs/server.key" "keepalive_requests 1;")
$(server_block $((port + 2)) '$switch_cert' '$switch_key' "keepalive_requests 1;")
}
CONF
}

start() {
    [ -n "$root" ] && [ -n "$certs" ] && [ -n "$port" ] || usage
    mkdir -p "$state/tmp"
    state=$(cd "$state" && pwd)
    root=$(cd "$root" && pwd)
    certs=$(cd "$certs" && pwd)
    stop_running
    cp "$certs/server.pem" "$state/switch.pem"
    cp "$certs/server.key" "$state/switch.key"
    : >"$state/access.log"
    write_config
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log"
    for _ in $(seq "$START_TIMEOUT_TENTHS"); do
        local ready=1
        for p in "$port" $((port + 1)) $((port + 2)); do
            (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || ready=0
        done
        [ "$ready" = 1 ] && return 0
        sleep 0.1
    done
    echo "nginx did not start; see $state/error.log" >&2
    exit 1
}

# Ends the master recorded in the pid file, if it is still an nginx process, and waits for it.
stop_running() {
    local pid_file=$state/nginx.pid pid
    [ -s "$pid_file" ] || return 0
    pid=$(cat "$pid_file")
    if [ -d "/proc/$pid" ] && grep -q nginx "/proc/$pid/cmdline" 2>/dev/null; then
        kill -TERM "$pid"
        for _ in $(seq 100); do [ -d "/proc/$pid" ] || break; sleep 0.1; done
    fi
    rm -f "$pid_file"
}

case $action in
    start) start ;;
    stop) stop_running ;;
    *) usage ;;
esac
