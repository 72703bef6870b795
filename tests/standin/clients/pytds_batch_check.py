"""Checks, with pytds (a TDS client written by others), the constructs of batches that do
several things in one round trip: TRY...CATCH with the ERROR_ functions, RAISERROR, several
result sets and counts, SET NOCOUNT, XACT_ABORT inside TRY, and a guard on @@ROWCOUNT.

usage: pytds_batch_check.py HOST PORT USER PASSWORD CAFILE
Prints one line per check and exits non-zero at the first failure.
"""
import sys

import pytds

HOST, PORT, USER, PASSWORD = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
# The login, password included, goes inside TLS: the authority that issued the stand-in's
# certificate is the test's own.
CAFILE = sys.argv[5]


def connect():
    return pytds.connect(server=HOST, port=PORT, user=USER, password=PASSWORD, database="JAIL",
                         autocommit=True, login_timeout=10, cafile=CAFILE, validate_host=False)


def check(name, got, want):
    if got != want:
        print("FAIL %s: got %r, want %r" % (name, got, want))
        sys.exit(1)
    print("ok   %s" % name)


def error_of(action):
    try:
        action()
    except pytds.Error as e:
        return getattr(e, "number", None), getattr(e, "text", str(e)).strip()
    return None


def results(cursor, sql, params=()):
    """Every result set of a batch, as lists of row tuples; raises what the batch raised."""
    cursor.execute(sql, params)
    sets = []
    while True:
        if cursor.description:
            sets.append([tuple(r) for r in cursor.fetchall()])
        if not cursor.nextset():
            return sets


conn = connect()
cur = conn.cursor()
cur.execute("CREATE TABLE PyBatch (K INT NOT NULL PRIMARY KEY, V VARCHAR(10) NULL)")
cur.execute("INSERT INTO PyBatch VALUES (1, 'one'), (2, 'two')")

# Another program holds the lock table: the CREATE fails with 2714 inside TRY, the INSERT after
# it never runs, and the CATCH block's row comes back instead of an error.
other = connect()
ocur = other.cursor()
ocur.execute("CREATE TABLE [tempdb].[dbo].[##PYLOCK] (Who VARCHAR(10))")
ocur.execute("INSERT INTO [tempdb].[dbo].[##PYLOCK] (Who) VALUES ('other')")
caught = results(cur, "BEGIN TRY\n"
                      "CREATE TABLE [tempdb].[dbo].[##PYLOCK] (Who VARCHAR(10))\n"
                      "INSERT INTO [tempdb].[dbo].[##PYLOCK] (Who) VALUES ('me')\n"
                      "END TRY\n"
                      "BEGIN CATCH\n"
                      "SELECT ERROR_NUMBER() AS ErrorNumber, ERROR_LINE() AS ErrorLine, "
                      "ERROR_MESSAGE() AS ErrorMessage\n"
                      "END CATCH")
check("2714 caught with its line", [row[:2] for row in caught[0]], [(2714, 2)])
check("2714's message", "already an object" in caught[0][0][2], True)
ocur.execute("SELECT Who FROM [tempdb].[dbo].[##PYLOCK]")
check("nothing inserted into the other's table", ocur.fetchall(), [("other",)])
other.close()

check("RAISERROR outside TRY is an error", error_of(lambda: cur.execute(
    "RAISERROR(N'Update failed', 16, 1)")), (50000, "Update failed"))
check("RAISERROR inside TRY is caught", results(
    cur, "BEGIN TRY RAISERROR('Update failed', 16, 1) END TRY "
         "BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY(), ERROR_MESSAGE() END CATCH"),
    [[(50000, 16, "Update failed")]])
check("RAISERROR of severity 10 informs", results(
    cur, "BEGIN TRY RAISERROR('just saying', 10, 1) SELECT 'went on' END TRY "
         "BEGIN CATCH SELECT 'caught' END CATCH"), [[("went on",)]])
check("its message", [(e.number, e.text) for _, e in cur.messages if e.number == 50000],
      [(50000, "just saying")])

# Each statement's answer in turn: a result set, the UPDATE's count, another result set.
cur.execute("SELECT 1 AS A\nUPDATE PyBatch SET V = V\nSELECT K FROM PyBatch ORDER BY K")
steps = [cur.fetchall()]
steps.append(cur.nextset() and cur.rowcount)
steps.append(cur.nextset() and [tuple(r) for r in cur.fetchall()])
steps.append(bool(cur.nextset()))
check("several result sets and counts from one batch", steps, [[(1,)], 2, [(1,), (2,)], False])
cur.execute("SET NOCOUNT OFF UPDATE PyBatch SET V = V")
check("count without NOCOUNT", cur.rowcount, 2)
cur.execute("SET NOCOUNT ON UPDATE PyBatch SET V = V")
check("no count with NOCOUNT", cur.rowcount, -1)
cur.execute("SET NOCOUNT OFF")

check("XACT_ABORT: the CATCH block finds the transaction rolled back", results(
    cur, "SET XACT_ABORT ON BEGIN TRAN INSERT INTO PyBatch VALUES (3, 'three') "
         "BEGIN TRY INSERT INTO PyBatch VALUES (1, 'dup') END TRY "
         "BEGIN CATCH SELECT @@TRANCOUNT, ERROR_NUMBER() END CATCH "
         "IF @@TRANCOUNT > 0 COMMIT SET XACT_ABORT OFF"), [[(0, 2627)]])
check("nothing of it stays", results(cur, "SELECT COUNT(*) FROM PyBatch"), [[(2,)]])

guard = ("BEGIN TRY\n"
         "UPDATE PyBatch SET V = %s WHERE K = %s\n"
         "IF @@ROWCOUNT <> 1 RAISERROR(N'Update failed', 16, 1)\n"
         "END TRY\n"
         "BEGIN CATCH\n"
         "SELECT ERROR_NUMBER(), ERROR_LINE(), ERROR_MESSAGE()\n"
         "END CATCH")
check("@@ROWCOUNT guard passes one row", results(cur, guard, ("new", 2)), [])
check("@@ROWCOUNT guard stops on none", results(cur, guard, ("new", 9)),
      [[(50000, 3, "Update failed")]])
check("the guarded write", results(cur, "SELECT V FROM PyBatch WHERE K = 2"), [[("new",)]])
conn.close()
print("PASS")
