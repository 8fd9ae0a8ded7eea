// The store's official Node.js client (ali-oss) against nimbra-devserver: a
// credential from the web API, put, ranged get, paged listing, copy, delete,
// a multipart upload, and an expired credential as SecurityTokenExpired.
// Environment: STORE_PORT, API_PORT, API_CA (certificate of the web API).
'use strict';

const assert = require('assert');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const os = require('os');
const path = require('path');
const OSS = require('ali-oss');

const storePort = Number(process.env.STORE_PORT);

function request(mod, options) {
  return new Promise((resolve, reject) => {
    const req = mod.request(options, (res) => {
      let body = '';
      res.on('data', (c) => { body += c; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    });
    req.on('error', reject);
    req.end();
  });
}

async function client() {
  // The web API's certificate is verified, by the name 127.0.0.1.
  const r = await request(https, {
    host: '127.0.0.1', port: Number(process.env.API_PORT), path: '/getStsKey',
    ca: fs.readFileSync(process.env.API_CA),
  });
  assert.strictEqual(r.status, 200, r.body);
  const c = JSON.parse(r.body);
  // With an IP endpoint the client sends "Host: <bucket>.oss-cn-hangzhou.aliyuncs.com"
  // and the path /key, which the server addresses virtual-hosted.
  return new OSS({
    accessKeyId: c.AccessKeyId, accessKeySecret: c.AccessKeySecret, stsToken: c.SecurityToken,
    bucket: 'nimbra-backup', endpoint: `http://127.0.0.1:${storePort}`, secure: false,
  });
}

async function main() {
  const oss = await client();
  const hello = Buffer.from('hello, interoperable world');

  const put = await oss.put('interop/hello.txt', hello);
  const md5 = crypto.createHash('md5').update(hello).digest('hex').toUpperCase();
  assert.strictEqual(put.res.headers.etag, `"${md5}"`);
  const ranged = await oss.get('interop/hello.txt', { headers: { Range: 'bytes=7-18' } });
  assert.strictEqual(ranged.res.status, 206);
  assert.strictEqual(ranged.content.toString(), 'interoperabl');

  // A listing in pages of two entries, folded by the delimiter.
  for (const k of ['a', 'b', 'c', 'dir/x', 'dir2/z']) await oss.put(`interop/list/${k}`, Buffer.from(k));
  const names = [];
  let page = { isTruncated: true };
  for (let pages = 0; page.isTruncated && pages < 3; pages += 1) {
    page = await oss.list({
      prefix: 'interop/list/', delimiter: '/', 'max-keys': 2, marker: page.nextMarker,
    });
    names.push(...(page.objects || []).map((o) => `${o.name} ${o.size}`), ...(page.prefixes || []));
  }
  assert.deepStrictEqual(names, ['interop/list/a 1', 'interop/list/b 1', 'interop/list/c 1',
    'interop/list/dir/', 'interop/list/dir2/']);
  assert.ok(!page.isTruncated);

  await oss.copy('interop/copy.txt', 'interop/hello.txt');
  assert.strictEqual((await oss.delete('interop/copy.txt')).res.status, 204);
  await assert.rejects(oss.get('interop/copy.txt'), (e) => e.code === 'NoSuchKey');

  const data = crypto.randomBytes(3 * 102400 + 123);
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'interop-')), 'big.bin');
  fs.writeFileSync(file, data);
  await oss.multipartUpload('interop/big.bin', file, { partSize: 102400, parallel: 1 });
  fs.rmSync(path.dirname(file), { recursive: true });
  const big = await oss.get('interop/big.bin');
  assert.ok(big.content.equals(data));
  assert.ok(/-4"$/.test(big.res.headers.etag), big.res.headers.etag);

  const expire = await request(http, {
    host: '127.0.0.1', port: storePort, path: '/__dev/expire-credentials', method: 'POST',
    headers: { 'Content-Type': 'application/json' },
  });
  assert.strictEqual(expire.status, 200);
  await assert.rejects(oss.head('interop/hello.txt'), (e) => e.code === 'SecurityTokenExpired');
  assert.strictEqual((await (await client()).head('interop/hello.txt')).status, 200);
  console.log('1 passed, 0 failed');
}

main().catch((e) => {
  console.log(`FAIL: ${e && e.stack ? e.stack : e}`);
  console.log('0 passed, 1 failed');
  process.exit(1);
});
