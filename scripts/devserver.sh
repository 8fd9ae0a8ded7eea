# A development server where a host built with the default addresses looks
# for it, for the scripts that run one (scripts/demo.sh behind `make demo`,
# tools/desktop/run-desktop.sh behind `make desktop`). Source it; the caller
# defines die() and names itself in $DEVSERVER_FOR ("the demo").
#
#   devserver_ports "$(HOST --version)"   sets api_url, endpoint, api_port and
#                                         store_port, or dies when the build
#                                         has other addresses or a port is taken
#   devserver_start DEVSERVER DIR         starts it with its data in DIR/data,
#                                         its output in DIR/server.{out,log};
#                                         waits for "ready"; sets server_pid
#   devserver_stop                        stops it (idempotent)

server_pid=""

devserver_ports() {
    local version=$1
    api_url=$(sed -n 's/^web API: *//p' <<<"$version")
    endpoint=$(sed -n 's/^endpoint: *//p' <<<"$version")
    local address_re='^https?://(127\.0\.0\.1|localhost):([0-9]+)/?$'
    [[ $api_url =~ $address_re ]] || die "this build talks to the web API at $api_url, not a local" \
        "server; $DEVSERVER_FOR needs a build with the default addresses"
    api_port=${BASH_REMATCH[2]}
    [[ $endpoint =~ $address_re ]] || die "this build talks to the store at $endpoint, not a local" \
        "server; $DEVSERVER_FOR needs a build with the default addresses"
    store_port=${BASH_REMATCH[2]}
    [[ $api_url == https://* ]] ||
        die "the development server serves the web API over https, but this build uses $api_url"

    local port owner
    for port in "$api_port" "$store_port"; do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            owner=$(ss -ltnpH "sport = :$port" 2>/dev/null | sed -n 's/.*users:((\("[^"]*"\),pid=\([0-9]*\).*/\1, pid \2/p' | head -1)
            die "port $port on 127.0.0.1 is already in use${owner:+ (by $owner)}." \
                "libNimbra is built to reach its servers at $api_url and $endpoint;" \
                "stop whatever listens there and run $DEVSERVER_FOR again."
        fi
    done
}

devserver_start() {
    local devserver=$1 dir=$2
    "$devserver" --data-dir "$dir/data" --api-port "$api_port" --store-port "$store_port" \
        >"$dir/server.out" 2>"$dir/server.log" &
    server_pid=$!
    for _ in $(seq 1 600); do
        grep -qx ready "$dir/server.out" 2>/dev/null && break
        if ! kill -0 "$server_pid" 2>/dev/null; then
            wait "$server_pid" 2>/dev/null
            server_pid=""
            sed 's/^/  /' "$dir/server.log" >&2
            die "nimbra-devserver did not start (its messages are above)"
        fi
        sleep 0.1
    done
    grep -qx ready "$dir/server.out" || die "nimbra-devserver did not get ready within 60 seconds"
}

devserver_stop() {
    if [[ -n $server_pid ]]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    server_pid=""
}
