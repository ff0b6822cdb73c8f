#!/usr/bin/env bash
# The queries of scripts/cluster-demo.sh over N generated purchase orders (default 20000) on one
# server (documents_one on the coordinator) and over two shard servers (documents), in throwaway
# clusters (needs root, to install the extension from build/). Each query runs three times; the
# best time counts. Prints the time ratio two shards / one server, and each server's share of
# the routines' calls and time during the two-shard runs (track_functions).
#
# The three servers share this machine's cores, and with other work running the times move:
# read the ratio and the shares, not a speed-up.
#
#   bash bench/cluster-bench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
orders=${1:-20000}
source scripts/pgcluster.sh
source scripts/cluster-demo.sh
cluster_start build "$orders"
for n in 1 2; do
    shard "$n" -c "ALTER SYSTEM SET track_functions = 'all'" -c "SELECT pg_reload_conf()" >/dev/null
done
coordinator -c "ALTER SYSTEM SET track_functions = 'all'" -c "SELECT pg_reload_conf()" >/dev/null

coordinator <<SQL
CREATE TABLE runs (query text, one_ms float8, shards_ms float8);
\i bench/best_ms.sql
SQL
for q in filter sum lateral; do
    coordinator -v q="$q" -v one="$(cluster_query "$q" documents_one)" \
        <<<"INSERT INTO runs SELECT :'q', best_ms(:'one')"
done
# The routines' statistics from here on are the two-shard runs'.
for n in 1 2; do shard "$n" -c "SELECT pg_stat_reset()" >/dev/null; done
coordinator -c "SELECT pg_stat_reset()" >/dev/null
for q in filter sum lateral; do
    coordinator -v q="$q" -v shards="$(cluster_query "$q" documents)" \
        <<<"UPDATE runs SET shards_ms = best_ms(:'shards') WHERE query = :'q'"
done

# A server's routine calls and their time (ms), once its sessions have ended and reported them.
work() {
    local psql=("$@") i
    for i in $(seq 50); do
        [ "$("${psql[@]}" -At -c "SELECT count(*) FROM pg_stat_activity
            WHERE backend_type = 'client backend' AND pid <> pg_backend_pid()")" = 0 ] && break
        sleep 0.1
    done
    "${psql[@]}" -At -F , -c "SELECT coalesce(sum(calls), 0), coalesce(sum(total_time), 0)
        FROM pg_stat_user_functions WHERE funcname LIKE 'qap%'"
}
shard1=$(work shard 1)
shard2=$(work shard 2)
local_work=$(work coordinator)
docs1=$(shard 1 -At -c "SELECT count(*) FROM documents")
docs2=$(shard 2 -At -c "SELECT count(*) FROM documents")

echo
coordinator -c "SELECT query, round(one_ms::numeric) AS one_server_ms,
    round(shards_ms::numeric) AS two_shards_ms,
    round((shards_ms / one_ms)::numeric, 2) AS \"two shards / one server\" FROM runs"
coordinator -c "SELECT server, documents, calls AS routine_calls, round(ms) AS routine_ms,
    round(100.0 * calls / sum(calls) OVER (), 1) AS \"% calls\",
    round(100 * ms / nullif(sum(ms) OVER (), 0), 1) AS \"% routine time\"
  FROM (VALUES ('shard1', $docs1, ${shard1%,*}, ${shard1#*,}::numeric),
               ('shard2', $docs2, ${shard2%,*}, ${shard2#*,}::numeric),
               ('coordinator', 0, ${local_work%,*}, ${local_work#*,}::numeric))
       AS w(server, documents, calls, ms)"
echo "(routine calls and time in the two-shard runs, three of each query; the coordinator's are"
echo " the table routine of the lateral query, over the documents the shards sent)"
