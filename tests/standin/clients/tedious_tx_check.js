// Holds a row of sqlstandin in an open transaction with tedious (which begins, commits and rolls
// back with transaction-manager requests), as another program would, and checks what a second
// session meets: a wait, a lock time-out (1222), the row let go at commit, put back at rollback
// and when the holder's connection ends; a cancel (ATTENTION) ends a wait.
//
// usage: node tedious_tx_check.js HOST PORT USER PASSWORD
// Prints one line per check and exits non-zero at the first failure.
'use strict';
const path = require('path');
const { Connection, Request } = require(path.join(__dirname, 'node_modules', 'tedious'));

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

// Runs a batch; resolves to { rows, error } (error: { number, message } or null).
function run(c, sql) {
  return new Promise((resolve) => {
    const rows = [];
    const r = new Request(sql, (err) => {
      resolve({ rows, error: err ? { number: err.number, message: err.message, code: err.code } : null });
    });
    r.on('row', (columns) => rows.push(columns.map((col) => col.value)));
    c.execSql(r);
  });
}

const call = (c, method) => new Promise((resolve, reject) =>
  c[method]((err) => (err ? reject(err) : resolve())));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function check(name, got, want) {
  if (JSON.stringify(got) !== JSON.stringify(want)) {
    console.log(`FAIL ${name}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
    process.exit(1);
  }
  console.log(`ok   ${name}`);
}

async function value(c, key) {
  return (await run(c, `SELECT V FROM TdTx (readuncommitted) WHERE K = ${key}`)).rows[0][0];
}

async function main() {
  const setup = await connect();
  check('create', (await run(setup, 'CREATE TABLE TdTx (K INT NOT NULL PRIMARY KEY, V VARCHAR(10) NULL)')).error, null);
  await run(setup, "INSERT INTO TdTx VALUES (1, 'one'), (2, 'two')");

  const holder = await connect();
  await call(holder, 'beginTransaction');
  check('@@TRANCOUNT after beginTransaction', (await run(holder, 'SELECT @@TRANCOUNT')).rows, [[1]]);
  await run(holder, "UPDATE TdTx SET V = 'held' WHERE K = 1");

  const timedOut = await run(setup, "SET LOCK_TIMEOUT 200; UPDATE TdTx SET V = 'x' WHERE K = 1");
  check('lock time-out', timedOut.error && [timedOut.error.number, timedOut.error.message],
        [1222, 'Lock request time out period exceeded.']);

  const waiter = await connect();
  let done = null;
  const waiting = run(waiter, "UPDATE TdTx SET V = 'waiter' WHERE K = 1").then((r) => { done = r; });
  await sleep(300);
  check('a write of the held row waits', done, null);
  await call(holder, 'commitTransaction');
  await Promise.race([waiting, sleep(5000)]);
  check('commit lets the waiter through', done && done.error, null);
  check("the waiter's write stands", await value(setup, 1), 'waiter');

  await call(holder, 'beginTransaction');
  await run(holder, "UPDATE TdTx SET V = 'changed' WHERE K = 2");
  await call(holder, 'rollbackTransaction');
  check('rollback puts the row back', await value(setup, 2), 'two');
  check('rollback lets the row go',
        (await run(setup, "SET LOCK_TIMEOUT 0; UPDATE TdTx SET V = 'two' WHERE K = 2")).error, null);

  // A cancel sends ATTENTION while the request waits on the row.
  await call(holder, 'beginTransaction');
  await run(holder, "UPDATE TdTx SET V = 'held2' WHERE K = 1");
  const cancelled = run(waiter, "UPDATE TdTx SET V = 'cancelled' WHERE K = 1");
  await sleep(200);
  waiter.cancel();
  const outcome = await Promise.race([cancelled, sleep(5000).then(() => 'still waiting')]);
  check('a cancel ends the wait', outcome.error && outcome.error.code, 'ECANCEL');
  check('the session answers again after the cancel', (await run(waiter, 'SELECT 7')).rows, [[7]]);

  // The holder's connection ends with its transaction open: the server rolls it back.
  holder.close();
  const released = await run(setup, "SET LOCK_TIMEOUT 2000; SELECT V FROM TdTx WHERE K = 1");
  check("a session's end rolls back and lets the row go", [released.error, released.rows], [null, [['waiter']]]);

  waiter.close();
  setup.close();
  console.log('PASS');
}

main().catch((e) => {
  console.log(`FAIL ${e && e.stack ? e.stack : e}`);
  process.exit(1);
});
