# Sourced by scripts/pgtest.sh, in its cluster (scripts/pgcluster.sh): runs the guide's
# PostgreSQL examples (tests/docs/docExamples.py), each page in a database of its own, as the
# superuser. The pages name their server directory /srv/tessel; here it is $PG_WORK/files, which
# holds the files of examples/.
pg_doc_examples() {
    local page db status=0
    cp examples/po* "$PG_WORK/files/"
    chown "$PG_USER" "$PG_WORK"/files/po*
    for page in README.md docs/postgresql.md docs/scale-out.md docs/administration.md; do
        grep -q '^```sql postgresql' "$page" || continue
        db=doc_$(basename "$page" .md | tr 'A-Z-' 'a-z_')
        pg_psql -c "CREATE DATABASE $db"
        PGTZ=UTC python3 tests/docs/docExamples.py "$page" postgresql \
            --replace "/srv/tessel=$PG_WORK/files" -- "$PG_BINDIR/psql" -X -q -h "$PG_WORK" \
            -p "$PG_PORT" -U "$PG_USER" -d "$db" || status=1
    done
    return "$status"
}
