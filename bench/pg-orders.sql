-- The benchmarks' purchase orders: :orders documents of :items items (about 2 KB), as text for
-- Tessel's routines (doc) and as xml for the server's own functions (x).
CREATE TABLE orders AS
SELECT o AS id, doc, doc::xml AS x FROM (
  SELECT o, '<purchaseOrder orderNumber="' || o || '" orderDate="2024-03-15">'
         || '<customer><name>Customer ' || o || '</name><street>' || (o % 977) || ' Main Street</street>'
         || '<city>Springfield</city><zip>' || (10000 + o % 89999) || '</zip></customer><items>'
         || string_agg('<item partNum="' || i || '-' || (o % 100) || '"><productName>Product number '
                       || i || ' of a fairly long catalogue line</productName><quantity>'
                       || (1 + (o + i) % 9) || '</quantity><price>' || ((o * 7 + i * 13) % 5000) / 100.0
                       || '</price><comment>Ships in ' || (i % 4 + 1) || ' days</comment></item>', '')
         || '</items><total>' || (o % 100000) / 10.0 || '</total></purchaseOrder>' AS doc
    FROM generate_series(1, :orders) o, generate_series(1, :items) i GROUP BY o) d;
VACUUM ANALYZE orders;
