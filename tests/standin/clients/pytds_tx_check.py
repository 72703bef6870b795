"""Holds a row of sqlstandin in an open transaction with pytds, as another program would, and
checks what a second session meets: a wait, a lock time-out (1222), the row let go at commit,
put back at rollback, and at the end of the holder's session; ATTENTION ends a wait.

usage: pytds_tx_check.py HOST PORT USER PASSWORD CAFILE
Prints one line per check and exits non-zero at the first failure.
"""
import subprocess
import sys
import threading
import time

import pytds

HOST, PORT, USER, PASSWORD = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
# The login, password included, goes inside TLS: the authority that issued the stand-in's
# certificate is the test's own.
CAFILE = sys.argv[5]


def connect(autocommit=True, timeout=None):
    # autocommit=False: pytds opens its transactions with transaction-manager requests.
    return pytds.connect(server=HOST, port=PORT, user=USER, password=PASSWORD, database="JAIL",
                         autocommit=autocommit, login_timeout=10, timeout=timeout,
                         cafile=CAFILE, validate_host=False)


def check(name, got, want):
    if got != want:
        print("FAIL %s: got %r, want %r" % (name, got, want))
        sys.exit(1)
    print("ok   %s" % name)


def error_of(cursor, sql):
    try:
        cursor.execute(sql)
    except pytds.Error as e:
        return getattr(e, "number", None), getattr(e, "text", str(e)).strip()
    return None


def value(cursor, key):
    cursor.execute("SELECT V FROM PyTx (readuncommitted) WHERE K = %d" % key)
    return cursor.fetchall()[0][0]


def eventually(condition):
    until = time.monotonic() + 5
    while time.monotonic() < until:
        if condition():
            return True
        time.sleep(0.01)
    return condition()


setup = connect()
cur = setup.cursor()
cur.execute("CREATE TABLE PyTx (K INT NOT NULL PRIMARY KEY, V VARCHAR(10) NULL)")
cur.execute("INSERT INTO PyTx VALUES (1, 'one'), (2, 'two'), (3, 'three')")

holder = connect(autocommit=False)
hcur = holder.cursor()
hcur.execute("SELECT @@TRANCOUNT")
check("transaction-manager BEGIN opens a transaction", hcur.fetchall(), [(1,)])
hcur.execute("UPDATE PyTx SET V = 'held' WHERE K = 1")

check("lock time-out", error_of(cur, "SET LOCK_TIMEOUT 200; UPDATE PyTx SET V = 'x' WHERE K = 1"),
      (1222, "Lock request time out period exceeded."))
check("plain read waits too", error_of(cur, "SELECT V FROM PyTx WHERE K = 1")[0], 1222)
check("NOLOCK read sees the held value", value(cur, 1), "held")
cur.execute("UPDATE PyTx SET V = 'free' WHERE K = 2")
check("other rows are free", value(cur, 2), "free")

waiter = connect()
result = {}


def wait_and_update():
    c = waiter.cursor()
    c.execute("UPDATE PyTx SET V = 'waiter' WHERE K = 1")
    result["rows"] = c.rowcount


thread = threading.Thread(target=wait_and_update)
thread.start()
thread.join(0.3)
check("a write of the held row waits", thread.is_alive(), True)
holder.commit()
thread.join(5)
check("commit lets the waiter through", (thread.is_alive(), result.get("rows")), (False, 1))
check("the waiter's write stands", value(cur, 1), "waiter")

hcur.execute("DELETE FROM PyTx WHERE K = 3")
hcur.execute("UPDATE PyTx SET V = 'changed' WHERE K = 2")
holder.rollback()
check("rollback puts a deleted row back", value(cur, 3), "three")
check("rollback puts an updated row back", value(cur, 2), "free")
check("rollback lets the rows go", error_of(cur, "SET LOCK_TIMEOUT 0; UPDATE PyTx SET V = 'x' WHERE K = 2"),
      None)

# ATTENTION: pytds cancels a request whose answer does not come within its time-out.
hcur.execute("UPDATE PyTx SET V = 'held2' WHERE K = 1")
impatient = connect(timeout=0.5)
icur = impatient.cursor()
try:
    icur.execute("UPDATE PyTx SET V = 'cancelled' WHERE K = 1")
    check("the wait ends in a time-out", "no time-out", "time-out")
except pytds.TimeoutError:
    print("ok   the wait ends in a time-out")
icur.execute("SELECT 7")
check("the session answers again after ATTENTION", icur.fetchall(), [(7,)])
holder.commit()
check("the cancelled write never happens", value(cur, 1), "held2")
impatient.close()

# A holder that dies without a word: the server rolls back and lets the row go.
killed = subprocess.Popen([sys.executable, "-c", """
import sys, pytds
c = pytds.connect(server=sys.argv[1], port=int(sys.argv[2]), user=sys.argv[3], password=sys.argv[4],
                  database='JAIL', autocommit=False, cafile=sys.argv[5], validate_host=False)
c.cursor().execute("UPDATE PyTx SET V = 'doomed' WHERE K = 2")
print('held', flush=True)
sys.stdin.read()
""", HOST, str(PORT), USER, PASSWORD, CAFILE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
check("killed holder holds the row", killed.stdout.readline().strip(), "held")
check("held by the killed holder", error_of(cur, "SET LOCK_TIMEOUT 0; UPDATE PyTx SET V = 'y' WHERE K = 2")[0],
      1222)
killed.kill()
killed.wait()
check("its session's end rolls back", eventually(lambda: value(cur, 2) == "x"), True)
check("and lets the row go",
      error_of(cur, "SET LOCK_TIMEOUT 2000; UPDATE PyTx SET V = 'z' WHERE K = 2"), None)
holder.close()
waiter.close()
setup.close()
print("PASS")
