"""Reads a jail's housing rows back through pytds, a TDS client nobody here wrote.

usage: read_housing.py HOST PORT USER CAFILE   (the password on the first line of stdin)
Prints every CFGCELL row, then every CFGBED row, by UniqueKey, one line each: the table's
name and the columns in table order, joined by "|"; NULL for NULL, True/False for bits.
"""
import sys

import pytds

HOST, PORT, USER, CAFILE = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
# Read from stdin so that it shows in no process listing; the login goes inside TLS, checked
# against the test's own authority.
PASSWORD = sys.stdin.readline().rstrip("\n")


def text(value):
    if value is None:
        return "NULL"
    if isinstance(value, bool):
        return "True" if value else "False"
    return str(value)


with pytds.connect(server=HOST, port=PORT, user=USER, password=PASSWORD, database="JAIL",
                   autocommit=True, login_timeout=10, cafile=CAFILE,
                   validate_host=False) as conn:
    cur = conn.cursor()
    for table in ("CFGCELL", "CFGBED"):
        cur.execute("SELECT * FROM %s ORDER BY UniqueKey" % table)
        for row in cur.fetchall():
            print("|".join([table] + [text(v) for v in row]))
