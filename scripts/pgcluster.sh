# Sourced by scripts/pgtest.sh and bench/pgbench.sh: installs the extension from a build
# directory into the server's directories (as root) and starts a throwaway PostgreSQL 15 cluster
# as the user postgres, on a unix socket in a private temporary directory, with no TCP listener.
# The cluster is stopped and the directory removed when the calling shell exits.
#
#   pg_cluster_start BUILD_DIR   sets PG_WORK (the directory), PG_BINDIR, PG_PORT, PG_USER;
#                                $PG_WORK/files is a directory the server's user owns. With
#                                BUILD_DIR "-" nothing is installed (the extension's package is)
#   pg_psql ARGS...              psql connected to the cluster as the superuser
#
# More servers, for several-server setups (scripts/cluster-demo.sh), share the socket directory
# $PG_WORK and differ by port; each has its data in $PG_WORK/NAME and its log in $PG_WORK/NAME.log
# (the first server's data is $PG_WORK/data, its log $PG_WORK/server.log):
#   pg_server_start NAME PORT    makes and starts one
#   pg_server_stop NAME          stops it at once, as a crash would
#   pg_psql_at PORT ARGS...      psql connected to it
pg_cluster_start() {
    local pgconfig
    pgconfig=/usr/lib/postgresql/15/bin/pg_config
    PG_BINDIR=$("$pgconfig" --bindir)
    PG_USER=postgres
    PG_PORT=54329
    if [ "$(id -u)" -ne 0 ]; then
        echo "run as root: the extension is installed into $("$pgconfig" --pkglibdir)" >&2
        return 1
    fi
    # The server's directories are shared by every build on the machine: one installs and runs
    # at a time (the package test holds the same lock itself and installs nothing here).
    if [ "$1" != - ]; then
        exec 8>/tmp/tessel-pg.lock
        flock 8
        cmake --install "$1" --component postgresql >/dev/null
    fi
    PG_WORK=$(mktemp -d /tmp/tessel-pg-XXXXXX)
    trap pg_cluster_stop EXIT
    chown "$PG_USER" "$PG_WORK"
    chmod 700 "$PG_WORK"
    runuser -u "$PG_USER" -- mkdir -m 700 "$PG_WORK/files"
    pg_server_start data "$PG_PORT"
}

pg_server_start() {
    local log=$PG_WORK/$1.log
    if [ "$1" = data ]; then log=$PG_WORK/server.log; fi
    runuser -u "$PG_USER" -- "$PG_BINDIR/initdb" -D "$PG_WORK/$1" -A trust -E UTF8 \
        --locale=C.UTF-8 --no-sync >/dev/null
    runuser -u "$PG_USER" -- "$PG_BINDIR/pg_ctl" -D "$PG_WORK/$1" -l "$log" \
        -w -s -o "-k $PG_WORK -p $2 -c listen_addresses= -c fsync=off" start
}

pg_server_stop() {
    runuser -u "$PG_USER" -- "$PG_BINDIR/pg_ctl" -D "$PG_WORK/$1" -m immediate stop \
        >/dev/null 2>&1 || true
}

pg_cluster_stop() {
    local dir
    for dir in "$PG_WORK"/*/PG_VERSION; do
        if [ -f "$dir" ]; then pg_server_stop "$(basename "$(dirname "$dir")")"; fi
    done
    rm -rf "$PG_WORK"
}

pg_psql_at() {
    local port=$1
    shift
    "$PG_BINDIR/psql" -X -q -v ON_ERROR_STOP=1 -h "$PG_WORK" -p "$port" -U "$PG_USER" "$@"
}

pg_psql() {
    pg_psql_at "$PG_PORT" "$@"
}
