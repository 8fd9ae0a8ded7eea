// One upload or download with the store's official Node.js client (ali-oss),
// as a user would script it instead of using libNimbra:
//
//   node ali_oss_client.js upload LOCAL_PATH OBJECT_KEY
//   node ali_oss_client.js download OBJECT_KEY LOCAL_PATH
//
// Environment: BENCH_API_URL (web API base, for /getStsKey), BENCH_ENDPOINT
// (store endpoint, an IP address), BENCH_BUCKET, BENCH_PART_SIZE (bytes),
// BENCH_PARALLEL. Prints one JSON line like nimbra-bench-host does; seconds
// covers the credential fetch and the transfer, not Node's start-up.
'use strict';

const fs = require('fs');
const https = require('https');
const OSS = require('ali-oss');

function fetchCredentials(apiUrl) {
  return new Promise((resolve, reject) => {
    // The development web API has a self-signed certificate.
    const req = https.get(`${apiUrl}/getStsKey`, { rejectUnauthorized: false }, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (chunk) => { body += chunk; });
      res.on('end', () => {
        if (res.statusCode !== 200) {
          reject(new Error(`getStsKey answered ${res.statusCode}`));
          return;
        }
        try {
          resolve(JSON.parse(body));
        } catch (e) {
          reject(e);
        }
      });
    });
    req.on('error', reject);
  });
}

function fileSize(path) {
  try {
    return fs.statSync(path).size;
  } catch (e) {
    return -1;
  }
}

async function main() {
  const [op, a, b] = process.argv.slice(2);
  if ((op !== 'upload' && op !== 'download') || !a || !b) {
    process.stderr.write('usage: ali_oss_client.js upload LOCAL KEY | download KEY LOCAL\n');
    process.exit(2);
  }
  const localPath = op === 'upload' ? a : b;
  const key = op === 'upload' ? b : a;
  const start = process.hrtime.bigint();
  const sts = await fetchCredentials(process.env.BENCH_API_URL);
  const client = new OSS({
    endpoint: process.env.BENCH_ENDPOINT,
    accessKeyId: sts.AccessKeyId,
    accessKeySecret: sts.AccessKeySecret,
    stsToken: sts.SecurityToken,
    bucket: process.env.BENCH_BUCKET,
    secure: false,
    timeout: 600000,
  });
  if (op === 'upload') {
    await client.multipartUpload(key, localPath, {
      partSize: Number(process.env.BENCH_PART_SIZE || 10485760),
      parallel: Number(process.env.BENCH_PARALLEL || 1),
    });
  } else {
    await client.get(key, localPath);
  }
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  process.stdout.write(JSON.stringify({ ok: true, result: 0, seconds, bytes: fileSize(localPath) }) + '\n');
}

main().catch((e) => {
  process.stderr.write(`ali_oss_client: ${e && e.stack ? e.stack : e}\n`);
  process.stdout.write(JSON.stringify({ ok: false, result: -1, seconds: 0, bytes: -1 }) + '\n');
  process.exit(1);
});
