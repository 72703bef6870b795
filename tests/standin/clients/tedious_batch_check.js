// Checks, with tedious (a TDS client written by others), the constructs of batches that do
// several things in one round trip: TRY...CATCH with the ERROR_ functions, RAISERROR, several
// result sets and counts, SET NOCOUNT, XACT_ABORT inside TRY, and a guard on @@ROWCOUNT.
//
// usage: node tedious_batch_check.js HOST PORT USER PASSWORD
// Prints one line per check and exits non-zero at the first failure.
'use strict';
const path = require('path');
const { Connection, Request, TYPES } = require(path.join(__dirname, 'node_modules', 'tedious'));

const [host, port, user, password] = process.argv.slice(2);

function connect() {
  return new Promise((resolve, reject) => {
    const c = new Connection({
      server: host,
      authentication: { type: 'default', options: { userName: user, password } },
      // Everything inside TLS, so the password never crosses in the clear; the certificate
      // is the test's own and is not what this script checks.
      options: { port: Number(port), database: 'JAIL', encrypt: true, trustServerCertificate: true,
                 requestTimeout: 0 },
    });
    c.connect((err) => (err ? reject(err) : resolve(c)));
  });
}

// Runs a batch (with parameters: through sp_executesql); resolves to { sets, counts, infos,
// error }: the rows of each result set, the count of each statement that reported one, the
// informational messages, and the error (number, message) or null.
function run(c, sql, params = []) {
  return new Promise((resolve) => {
    const sets = [];
    const counts = [];
    const infos = [];
    const onInfo = (info) => infos.push([info.number, info.message]);
    c.on('infoMessage', onInfo);
    const r = new Request(sql, (err) => {
      c.removeListener('infoMessage', onInfo);
      resolve({ sets, counts, infos, error: err ? [err.number, err.message] : null });
    });
    for (const [name, type, value] of params) r.addParameter(name, type, value);
    r.on('columnMetadata', () => sets.push([]));
    r.on('row', (columns) => sets[sets.length - 1].push(columns.map((col) => col.value)));
    const counted = (rowCount) => { if (rowCount !== undefined) counts.push(rowCount); };
    r.on('done', counted);
    r.on('doneInProc', counted);
    if (params.length) c.execSql(r); else c.execSqlBatch(r);
  });
}

function check(name, got, want) {
  if (JSON.stringify(got) !== JSON.stringify(want)) {
    console.log(`FAIL ${name}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
    process.exit(1);
  }
  console.log(`ok   ${name}`);
}

async function main() {
  const c = await connect();
  check('create', (await run(c, 'CREATE TABLE TdBatch (K INT NOT NULL PRIMARY KEY, V VARCHAR(10) NULL)')).error, null);
  await run(c, "INSERT INTO TdBatch VALUES (1, 'one'), (2, 'two')");

  // Another program holds the lock table: the CREATE fails with 2714 inside TRY, the INSERT
  // after it never runs, and the CATCH block's row comes back instead of an error.
  const other = await connect();
  await run(other, 'CREATE TABLE [tempdb].[dbo].[##TDLOCK] (Who VARCHAR(10))');
  await run(other, "INSERT INTO [tempdb].[dbo].[##TDLOCK] (Who) VALUES ('other')");
  const caught = await run(c, 'BEGIN TRY\n' +
    'CREATE TABLE [tempdb].[dbo].[##TDLOCK] (Who VARCHAR(10))\n' +
    "INSERT INTO [tempdb].[dbo].[##TDLOCK] (Who) VALUES ('me')\n" +
    'END TRY\nBEGIN CATCH\n' +
    'SELECT ERROR_NUMBER() AS ErrorNumber, ERROR_LINE() AS ErrorLine, ERROR_MESSAGE() AS ErrorMessage\n' +
    'END CATCH');
  check('2714 caught, no error raised', caught.error, null);
  check('2714 and its line', caught.sets.map((s) => s.map((row) => row.slice(0, 2))), [[[2714, 2]]]);
  check('nothing inserted into the other\'s table',
        (await run(other, 'SELECT Who FROM [tempdb].[dbo].[##TDLOCK]')).sets, [[['other']]]);
  other.close();

  check('RAISERROR outside TRY is an error',
        (await run(c, "RAISERROR(N'Update failed', 16, 1)")).error, [50000, 'Update failed']);
  check('RAISERROR inside TRY is caught', (await run(c,
    "BEGIN TRY RAISERROR('Update failed', 16, 1) END TRY " +
    'BEGIN CATCH SELECT ERROR_NUMBER(), ERROR_SEVERITY(), ERROR_MESSAGE() END CATCH')).sets,
        [[[50000, 16, 'Update failed']]]);
  const info = await run(c, "BEGIN TRY RAISERROR('just saying', 10, 1) SELECT 'went on' END TRY " +
                            "BEGIN CATCH SELECT 'caught' END CATCH");
  check('RAISERROR of severity 10 informs', [info.error, info.sets, info.infos],
        [null, [[['went on']]], [[50000, 'just saying']]]);

  const several = await run(c, 'SELECT 1 AS A\nUPDATE TdBatch SET V = V\nSELECT K FROM TdBatch ORDER BY K');
  check('several result sets and counts', [several.sets, several.counts], [[[[1]], [[1], [2]]], [1, 2, 2]]);
  const counted = await run(c, 'SET NOCOUNT OFF\nUPDATE TdBatch SET V = V\nSELECT K FROM TdBatch');
  check('counts without NOCOUNT', counted.counts, [2, 2]);
  const quiet = await run(c, 'SET NOCOUNT ON\nUPDATE TdBatch SET V = V\nSELECT K FROM TdBatch\nSET NOCOUNT OFF');
  check('no counts with NOCOUNT', [quiet.sets.length, quiet.counts], [1, []]);

  const doomed = await run(c, "SET XACT_ABORT ON BEGIN TRAN INSERT INTO TdBatch VALUES (3, 'three') " +
    "BEGIN TRY INSERT INTO TdBatch VALUES (1, 'dup') END TRY " +
    'BEGIN CATCH SELECT @@TRANCOUNT, ERROR_NUMBER() END CATCH ' +
    'IF @@TRANCOUNT > 0 COMMIT SET XACT_ABORT OFF');
  check('XACT_ABORT: the CATCH block finds the transaction rolled back', [doomed.error, doomed.sets],
        [null, [[[0, 2627]]]]);
  check('nothing of it stays', (await run(c, 'SELECT COUNT(*) FROM TdBatch')).sets, [[[2]]]);

  const guard = 'BEGIN TRY\n' +
    'UPDATE TdBatch SET V = @v WHERE K = @k\n' +
    "IF @@ROWCOUNT <> 1 RAISERROR(N'Update failed', 16, 1)\n" +
    'END TRY\nBEGIN CATCH\n' +
    'SELECT ERROR_NUMBER(), ERROR_LINE(), ERROR_MESSAGE()\n' +
    'END CATCH';
  const params = (k) => [['v', TYPES.VarChar, 'new'], ['k', TYPES.Int, k]];
  const passed = await run(c, guard, params(2));
  check('@@ROWCOUNT guard passes one row', [passed.error, passed.sets], [null, []]);
  const stopped = await run(c, guard, params(9));
  check('@@ROWCOUNT guard stops on none', [stopped.error, stopped.sets], [null, [[[50000, 3, 'Update failed']]]]);
  check('the guarded write', (await run(c, 'SELECT V FROM TdBatch WHERE K = 2')).sets, [[['new']]]);
  c.close();
  console.log('PASS');
}

main().catch((e) => {
  console.log(`FAIL ${e && e.stack ? e.stack : e}`);
  process.exit(1);
});
