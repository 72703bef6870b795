// Connects to sqlstandin with tedious, a TDS client written by others that speaks TDS 8.0
// (encrypt: 'strict'), runs one query and prints "CONNECTED <value>" or "ERROR <message>".
//
// usage: node tedious_check.js HOST PORT USER PASSWORD ENCRYPT CAFILE
//   ENCRYPT: false | true | strict; CAFILE: the authority to trust ("" for none: the
//   certificate is then trusted unvalidated, except in strict mode, which always validates)
'use strict';
const fs = require('fs');
const { Connection, Request } = require('tedious');

const [host, port, user, password, encryptText, caFile] = process.argv.slice(2);
const encrypt = encryptText === 'strict' ? 'strict' : encryptText === 'true';
const options = {
  port: Number(port),
  encrypt,
  trustServerCertificate: !caFile,
  connectTimeout: 10000,
  database: 'master',
};
if (caFile) options.cryptoCredentialsDetails = { ca: fs.readFileSync(caFile) };
if (host === '127.0.0.1') options.serverName = 'localhost';

const connection = new Connection({
  server: host,
  authentication: { type: 'default', options: { userName: user, password } },
  options,
});
connection.on('connect', (err) => {
  if (err) {
    console.log('ERROR ' + err.message);
    process.exit(1);
  }
  let value = null;
  const request = new Request("SELECT 'tls' + 'ok' AS v", (qerr) => {
    if (qerr) {
      console.log('ERROR ' + qerr.message);
      process.exit(1);
    }
    console.log('CONNECTED ' + value);
    connection.close();
  });
  request.on('row', (columns) => {
    value = columns[0].value;
  });
  connection.execSql(request);
});
connection.on('end', () => process.exit(0));
connection.connect();
