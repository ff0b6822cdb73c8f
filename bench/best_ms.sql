-- Helpers of the PostgreSQL benchmarks. best_ms(query): the shortest of three runs of a query,
-- in milliseconds.
CREATE FUNCTION best_ms(q text) RETURNS float8 LANGUAGE plpgsql AS $$
DECLARE
  best float8;
  t timestamptz;
BEGIN
  FOR run IN 1..3 LOOP
    t := clock_timestamp();
    EXECUTE q;
    best := least(best, extract(epoch FROM clock_timestamp() - t) * 1000);
  END LOOP;
  RETURN best;
END $$;

-- gathers(query): whether the plan of a query runs it in parallel workers.
CREATE FUNCTION gathers(q text) RETURNS bool LANGUAGE plpgsql AS $$
DECLARE line text;
BEGIN
  FOR line IN EXECUTE 'EXPLAIN (COSTS OFF) ' || q LOOP
    IF line LIKE '%Gather%' THEN RETURN true; END IF;
  END LOOP;
  RETURN false;
END $$;
