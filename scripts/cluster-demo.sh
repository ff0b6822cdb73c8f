#!/usr/bin/env bash
# Tessel over several PostgreSQL servers, with PostgreSQL's own tools: a coordinator and two
# shard servers, throwaway clusters in one temporary directory (scripts/pgcluster.sh; needs root,
# to install the extension from the build directory). Tessel is installed on all three. On the
# coordinator, "documents" is partitioned by hash of the customer over two postgres_fdw foreign
# tables, one per shard (foreign servers with extensions 'tessel' and async_capable 'true'), and
# "documents_one" holds the same purchase orders on the coordinator alone: one server holding
# every document, to compare with.
#
#   bash scripts/cluster-demo.sh [BUILD_DIR]           shows the queries, their plans and answers
#   bash scripts/cluster-demo.sh --check [BUILD_DIR]   exits nonzero when the shards answer
#       otherwise than one server, when a routine is not in the remote SQL, or when a shard that
#       is down is not reported clearly or takes the other shard's data with it
#
# bench/cluster-bench.sh sources this file for cluster_start and the queries.
set -euo pipefail

CLUSTER_SHARD_PORTS=(54330 54331)

# The queries, over the table $1 (documents or documents_one). Each has an ORDER BY, so that
# the answers of the two tables compare as text.
#   filter  a typed extracted value in WHERE: shipped, each shard sends only the rows that pass
#   sum     a sum of extracted values grouped by the partition key: with partitionwise
#           aggregation each shard computes its customers' sums and sends only those
#   lateral a table routine in a LATERAL join: PostgreSQL does not ship set-returning functions,
#           so it runs on the coordinator over the documents the shards send (which the WHERE
#           clause, shipped, narrows)
cluster_query() {
    case $1 in
    filter) echo "SELECT id, customer FROM $2
  WHERE qapExtractDateFromVarchar(doc, '/purchaseOrder/@orderDate') >= date '2024-12-20'
    AND qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total') > 5000 ORDER BY id" ;;
    sum) echo "SELECT customer, count(*) AS orders,
       round(sum(qapExtractDoubleFromVarchar(doc, '/purchaseOrder/total'))::numeric, 2) AS total
  FROM $2 GROUP BY customer ORDER BY customer" ;;
    lateral) echo "SELECT d.customer, count(*) AS items, round(sum(p.value)::numeric, 2) AS prices
  FROM $2 d, LATERAL qapExtractDoublesFromVarchar(d.doc, '/purchaseOrder/items/item/price') p
  WHERE qapExtractDateFromVarchar(d.doc, '/purchaseOrder/@orderDate') >= date '2024-12-01'
  GROUP BY d.customer ORDER BY d.customer" ;;
    esac
}

# psql on the coordinator, or on shard 1 or 2.
coordinator() { pg_psql -d postgres "$@"; }
shard() {
    local n=$1
    shift
    pg_psql_at "${CLUSTER_SHARD_PORTS[n - 1]}" -d postgres "$@"
}

# Starts the three servers from the build directory $1 and loads $2 generated purchase orders
# of 20 customers and about 2 KB each.
cluster_start() {
    local build=$1 orders=$2 n
    pg_cluster_start "$build"
    for n in 1 2; do
        pg_server_start "shard$n" "${CLUSTER_SHARD_PORTS[n - 1]}"
        shard "$n" -c "CREATE EXTENSION tessel" \
            -c "CREATE TABLE documents (id int PRIMARY KEY, customer int NOT NULL, doc text NOT NULL)"
    done
    coordinator <<SQL
CREATE EXTENSION tessel;
CREATE EXTENSION postgres_fdw;
-- Partial aggregates are not shipped: a grouping by the partition key is, one per partition.
ALTER DATABASE postgres SET enable_partitionwise_aggregate = on;
CREATE SERVER shard1 FOREIGN DATA WRAPPER postgres_fdw OPTIONS (host '$PG_WORK',
  port '${CLUSTER_SHARD_PORTS[0]}', dbname 'postgres', extensions 'tessel', async_capable 'true',
  batch_size '100');
CREATE SERVER shard2 FOREIGN DATA WRAPPER postgres_fdw OPTIONS (host '$PG_WORK',
  port '${CLUSTER_SHARD_PORTS[1]}', dbname 'postgres', extensions 'tessel', async_capable 'true',
  batch_size '100');
CREATE USER MAPPING FOR CURRENT_USER SERVER shard1 OPTIONS (user '$PG_USER');
CREATE USER MAPPING FOR CURRENT_USER SERVER shard2 OPTIONS (user '$PG_USER');
CREATE TABLE documents (id int NOT NULL, customer int NOT NULL, doc text NOT NULL)
  PARTITION BY HASH (customer);
CREATE FOREIGN TABLE documents_shard1 PARTITION OF documents
  FOR VALUES WITH (MODULUS 2, REMAINDER 0) SERVER shard1 OPTIONS (table_name 'documents');
CREATE FOREIGN TABLE documents_shard2 PARTITION OF documents
  FOR VALUES WITH (MODULUS 2, REMAINDER 1) SERVER shard2 OPTIONS (table_name 'documents');
CREATE TABLE documents_one (id int PRIMARY KEY, customer int NOT NULL, doc text NOT NULL);
INSERT INTO documents_one
SELECT o, o % 20, '<purchaseOrder orderNumber="PO-' || o || '" orderDate="'
       || to_char(date '2024-01-01' + o % 366, 'YYYY-MM-DD') || '">'
       || '<customer><name>Customer ' || o % 20 || '</name><street>' || o % 977
       || ' Main Street</street><city>Springfield</city></customer><items>'
       || string_agg('<item partNum="' || i || '-' || o % 100 || '"><productName>Product number '
                     || i || ' of a fairly long catalogue line</productName><quantity>'
                     || 1 + (o + i) % 9 || '</quantity><price>' || ((o * 7 + i * 13) % 5000) / 100.0
                     || '</price><comment>Ships in ' || i % 4 + 1 || ' days</comment></item>', '')
       || '</items><total>' || (o * 37 % 100000) / 10.0 || '</total></purchaseOrder>'
  FROM generate_series(1, $orders) o, generate_series(1, 10) i GROUP BY o;
INSERT INTO documents SELECT * FROM documents_one;
ANALYZE documents_one;
ANALYZE documents;
SQL
    shard 1 -c "VACUUM ANALYZE documents"
    shard 2 -c "VACUUM ANALYZE documents"
}

cluster_demo() {
    local q
    echo "== Documents per server"
    coordinator -c "SELECT tableoid::regclass AS partition, count(*) FROM documents GROUP BY 1 ORDER BY 1"
    for q in filter sum lateral; do
        echo
        echo "== $q"
        case $q in
        filter) echo "-- The WHERE clause runs on the shards: each sends only the orders that pass." ;;
        sum) echo "-- Each shard sums its own customers' totals and sends one row per customer." ;;
        lateral) echo "-- The WHERE clause runs on the shards; the table routine runs on the" \
            "coordinator, over the documents the shards send (set-returning functions are not shipped)." ;;
        esac
        cluster_query "$q" documents
        coordinator -c "EXPLAIN (VERBOSE, COSTS OFF) $(cluster_query "$q" documents)"
        coordinator -c "$(cluster_query "$q" documents) LIMIT 5"
    done
}

# The checks; each failure is reported and counted.
cluster_check() {
    local failed=0 q want got explain err before
    for q in filter sum lateral; do
        want=$(coordinator -At -c "$(cluster_query "$q" documents_one)")
        got=$(coordinator -At -c "$(cluster_query "$q" documents)")
        if [ -z "$want" ] || [ "$want" != "$got" ]; then
            echo "FAIL $q: the shards answer otherwise than one server"
            diff <(echo "$want") <(echo "$got") | head -n 10
            failed=$((failed + 1))
        fi
        explain=$(coordinator -At -c "EXPLAIN (VERBOSE, COSTS OFF) $(cluster_query "$q" documents)")
        if [ "$(grep -ci 'Remote SQL:.*public\.qapextract' <<<"$explain")" -ne 2 ]; then
            echo "FAIL $q: a shard's remote SQL has no Tessel routine"
            echo "$explain"
            failed=$((failed + 1))
        fi
    done
    # The table routine itself stays on the coordinator.
    if ! coordinator -At -c "EXPLAIN (VERBOSE, COSTS OFF) $(cluster_query lateral documents)" |
        grep -qi 'Function Scan on public.qapextractdoublesfromvarchar'; then
        echo "FAIL lateral: the table routine is not a function scan on the coordinator"
        failed=$((failed + 1))
    fi

    # Shard 2 goes down: the coordinator names it; shard 1 and its data are untouched.
    before=$(shard 1 -At -c "SELECT count(*), sum(hashtext(doc)) FROM documents")
    pg_server_stop shard2
    if err=$(coordinator -At -c "$(cluster_query filter documents)" 2>&1); then
        echo "FAIL shard down: the query over both shards succeeded"
        failed=$((failed + 1))
    elif ! grep -q 'could not connect to server "shard2"' <<<"$err"; then
        echo "FAIL shard down: the error does not name the shard: $err"
        failed=$((failed + 1))
    fi
    if [ "$(shard 1 -At -c "SELECT count(*), sum(hashtext(doc)) FROM documents")" != "$before" ] ||
        [ "$(coordinator -At -c "SELECT count(*) FROM documents_shard1")" != "${before%%|*}" ]; then
        echo "FAIL shard down: shard 1's documents changed or cannot be read"
        failed=$((failed + 1))
    fi
    if [ "$failed" -ne 0 ]; then
        echo "--- coordinator log (tail)"
        tail -n 20 "$PG_WORK/server.log"
        return 1
    fi
    echo "cluster check: the shards answer as one server, the routines run on them," \
        "a shard that is down is named and the other keeps its data"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    cd "$(dirname "$0")/.."
    source scripts/pgcluster.sh
    mode=demo
    if [ "${1:-}" = --check ]; then
        mode=check
        shift
    fi
    cluster_start "${1:-build}" 2000
    if [ "$mode" = check ]; then cluster_check; else cluster_demo; fi
fi
