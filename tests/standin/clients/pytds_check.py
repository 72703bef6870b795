"""Checks sqlstandin with pytds, a TDS client written by others.

usage: pytds_check.py HOST PORT USER PASSWORD CAFILE
Prints one line per check and exits non-zero at the first failure.
"""
import datetime
import decimal
import subprocess
import sys
import time

import pytds

HOST, PORT, USER, PASSWORD = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
# The login, password included, goes inside TLS: the authority that issued the stand-in's
# certificate is the test's own.
CAFILE = sys.argv[5]


def connect(database="JAIL"):
    return pytds.connect(server=HOST, port=PORT, user=USER, password=PASSWORD, database=database,
                         autocommit=True, login_timeout=10, cafile=CAFILE,
                         validate_host=False)


def error_number(action):
    try:
        action()
    except pytds.Error as e:
        return getattr(e, "number", None)
    return None


def check(name, got, want):
    if got != want:
        print("FAIL %s: got %r, want %r" % (name, got, want))
        sys.exit(1)
    print("ok   %s" % name)


def eventually(condition):
    until = time.monotonic() + 5
    while time.monotonic() < until:
        if condition():
            return True
        time.sleep(0.01)
    return condition()


conn = connect()
cur = conn.cursor()
cur.execute("CREATE TABLE PyCells (UniqueKey INT IDENTITY(1,1) PRIMARY KEY, CELLKEY INT NOT NULL, "
            "FACILITYID CHAR(6) NULL, BED VARCHAR(10) NULL, NOTE NVARCHAR(20) NULL, AVAILABLE BIT NULL, "
            "CHANGED DATETIME NULL, RATE FLOAT NULL, AMOUNT DECIMAL(10,2) NULL)")
cur.execute("INSERT INTO PyCells (CELLKEY, FACILITYID, BED, NOTE, AVAILABLE, CHANGED, RATE, AMOUNT) VALUES "
            "(1, 'MAIN', 'A1', N'caf\u00e9 \u20ac', 1, '2024-02-29 13:45:10.997', 2.5, -1234.5), "
            "(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL)")
check("insert counts rows", cur.rowcount, 2)
cur.execute("SELECT UniqueKey, CELLKEY, FACILITYID, BED, NOTE, AVAILABLE, CHANGED, RATE, AMOUNT "
            "FROM PyCells ORDER BY CELLKEY")
rows = cur.fetchall()
check("typed row", tuple(rows[0]),
      (1, 1, "MAIN  ", "A1", "caf\u00e9 \u20ac", True,
       datetime.datetime(2024, 2, 29, 13, 45, 10, 997000), 2.5, decimal.Decimal("-1234.50")))
check("null row", tuple(rows[1]), (2, 2, None, None, None, None, None, None, None))
check("column names", [d[0] for d in cur.description][:3], ["UniqueKey", "CELLKEY", "FACILITYID"])

cur.execute("SELECT CELLKEY, BED FROM PyCells WHERE CELLKEY = %s AND BED = %s", (1, "A1"))
check("parameterised select", cur.fetchall(), [(1, "A1")])
cur.execute("UPDATE PyCells SET NOTE = %s WHERE CELLKEY >= %s", ("x", 1))
check("parameterised update count", cur.rowcount, 2)

# Global temporary tables: one name for every session; gone when the creator's session ends.
other = connect()
cur.execute("CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName VARCHAR(30))")
cur.execute("INSERT INTO [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName) VALUES ('me')")
ocur = other.cursor()
check("second session refused", error_number(lambda: ocur.execute(
    "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName VARCHAR(30))")), 2714)
check("creator refused too", error_number(lambda: cur.execute(
    "CREATE TABLE [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17] (UserName VARCHAR(30))")), 2714)
ocur.execute("SELECT UserName FROM [tempdb].[dbo].[##LOCK-JAIL.CFGCELL.17]")
check("other session reads the holder", ocur.fetchall(), [("me",)])
conn.close()


def gone(name):
    return error_number(lambda: ocur.execute("SELECT * FROM [tempdb].[dbo].[%s]" % name)) == 208


check("dropped when the creator disconnects", eventually(lambda: gone("##LOCK-JAIL.CFGCELL.17")), True)

holder = subprocess.Popen([sys.executable, "-c", """
import sys, pytds
c = pytds.connect(server=sys.argv[1], port=int(sys.argv[2]), user=sys.argv[3], password=sys.argv[4],
                  database='JAIL', autocommit=True, cafile=sys.argv[5], validate_host=False)
c.cursor().execute('CREATE TABLE ##KILLED (x INT)')
print('created', flush=True)
sys.stdin.read()
""", HOST, str(PORT), USER, PASSWORD, CAFILE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
check("killed holder created its table", holder.stdout.readline().strip(), "created")
check("table visible while the holder lives", gone("##KILLED"), False)
holder.kill()
holder.wait()
check("dropped when the creator is killed", eventually(lambda: gone("##KILLED")), True)
other.close()
print("PASS")
