"""Tessel from Python: the sqlite3 module loads the extension and reads purchase orders.

    /usr/bin/python3 examples/orders.py [EXTENSION]

EXTENSION is the extension's path (default: libtessel_sqlite, the installed one)."""
import pathlib
import sqlite3
import sys

extension = sys.argv[1] if len(sys.argv) > 1 else 'libtessel_sqlite'
conn = sqlite3.connect(':memory:')
conn.enable_load_extension(True)
conn.load_extension(extension)
conn.enable_load_extension(False)

conn.execute('CREATE TABLE orders(id INTEGER PRIMARY KEY, doc TEXT)')
for path in sorted(pathlib.Path(__file__).parent.glob('po-*.xml')):
    conn.execute('INSERT INTO orders(doc) VALUES (?)', (path.read_text(encoding='utf-8'),))

# A bound path is constant for the statement: the routine keeps its context from row to row.
query = '''SELECT qapExtractVarcharFromVarchar(doc, ?), qapExtractVarcharFromVarchar(doc, ?),
                  qapExtractDoubleFromVarchar(doc, ?) FROM orders ORDER BY id'''
for number, name, total in conn.execute(
        query, ('/purchaseOrder/@orderNumber', '/purchaseOrder/customer/name',
                '/purchaseOrder/total')):
    print(number, name, total)

# A table routine in a join: every part number of every order.
parts = conn.execute('''SELECT DISTINCT p.value FROM orders o,
                          qapExtractVarcharsFromVarchar(o.doc, '/purchaseOrder/items/item/@partNum') p
                        ORDER BY 1''')
print('parts:', *(part for (part,) in parts))

# A routine's error is an sqlite3.Error whose text starts with the SQLSTATE.
try:
    conn.execute("SELECT qapExtractDoubleFromVarchar(doc, '/purchaseOrder/items/item/price') "
                 'FROM orders').fetchall()
except sqlite3.Error as error:
    print('error:', error)
