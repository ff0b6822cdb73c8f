#!/usr/bin/env bash
# Per-row cost of the routines in SQLite: 100k generated purchase orders of about 2 KB in one
# column, scanned plainly, through a scalar extract routine (a literal path: one context per
# statement) and through a table routine (every price of every order, summed). Prints the
# processor time per row of each and its ratio to the plain scan, as measured in this run.
#   bash bench/sqlite-rows.sh [ROWS]        (after the build: build/libtessel_sqlite.so)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-100000}
ext=$PWD/build/libtessel_sqlite
[ -f "$ext.so" ] || { echo "build the SQLite extension first (bash scripts/demo.sh)" >&2; exit 1; }
db=$(mktemp /tmp/tessel-rows-XXXXXX.db)
trap 'rm -f "$db"' EXIT
echo "build: $(git describe --always --dirty 2>/dev/null || echo unknown)"

sqlite3 "$db" <<SQL
CREATE TABLE docs(id INTEGER PRIMARY KEY, doc TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $rows)
INSERT INTO docs
SELECT i, '<?xml version="1.0" encoding="UTF-8"?><order id="' || i || '" date="2024-05-17">'
  || '<customer id="c' || (i % 5000) || '"><name>Customer ' || (i % 5000) || '</name>'
  || '<street>' || (i % 999) || ' Long Street</street><city>Springfield</city></customer>'
  || replace(hex(zeroblob(16)), '00',
       '<item sku="SKU-' || (i % 99991) || '" qty="' || (1 + i % 9) || '" price="'
       || (1 + i % 500) || '.' || (10 + i % 89) || '"><desc>A part for the series &amp; its spares</desc></item>')
  || '<note>Deliver to the back door.</note></order>'
  FROM n;
SQL

# The processor time (user + sys) of one query, best of three.
timed() {
    local best=""
    for _ in 1 2 3; do
        t=$(echo "$1;" | sqlite3 -cmd ".load $ext" -cmd ".timer on" "$db" 2>&1 |
            awk '/Run Time/ {print $6 + $8}' | tail -1)
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN {exit !(a < b)}'; then best=$t; fi
    done
    echo "$best"
}
avg=$(sqlite3 "$db" "SELECT avg(length(doc)) FROM docs")
scan=$(timed "SELECT sum(length(doc)) FROM docs")
scalar=$(timed "SELECT count(qapExtractVarcharFromVarchar(doc, '/order/customer/name')) FROM docs")
table=$(timed "SELECT sum(x.value) FROM docs d, qapExtractDoublesFromVarchar(d.doc, '/order/item/@price') x")
printf '%d rows of %.0f bytes on average; processor time per row, best of three runs\n' "$rows" "$avg"
printf '| %-46s | %8s | %7s |\n' query "us/row" "vs scan"
printf '|%s|%s|%s|\n' "------------------------------------------------" "----------" "---------"
for row in "plain scan of the column:$scan" "scalar extract (customer name):$scalar" \
    "table routine, 16 prices summed:$table"; do
    name=${row%%:*}; t=${row##*:}
    awk -v n="$name" -v t="$t" -v s="$scan" -v r="$rows" \
        'BEGIN {printf "| %-46s | %8.2f | %7.1f |\n", n, t * 1e6 / r, t / s}'
done
