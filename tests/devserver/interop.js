// Interoperability with the store's official Node.js client (ali-oss): a
// credential from the web API, then put, ranged get, head, paged listing with
// a delimiter, copy, delete, a 10 MiB-part multipart upload, and an expired
// credential surfacing as SecurityTokenExpired.
//
// Environment: STORE_PORT, API_PORT, BUCKET, API_CA (certificate of the web API).
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
const apiPort = Number(process.env.API_PORT);
const bucket = process.env.BUCKET || 'nimbra-backup';
const ca = fs.readFileSync(process.env.API_CA);

function request(mod, options, body) {
  return new Promise((resolve, reject) => {
    const req = mod.request(options, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks).toString() }));
    });
    req.on('error', reject);
    if (body) req.write(body);
    req.end();
  });
}

async function issueCredentials() {
  // Verified against the server's own certificate, by name 127.0.0.1.
  const r = await request(https, { host: '127.0.0.1', port: apiPort, path: '/getStsKey', ca });
  assert.strictEqual(r.status, 200, r.body);
  const j = JSON.parse(r.body);
  assert.ok(j.AccessKeyId.startsWith('STS.'));
  return j;
}

function client(creds) {
  return new OSS({
    accessKeyId: creds.AccessKeyId,
    accessKeySecret: creds.AccessKeySecret,
    stsToken: creds.SecurityToken,
    bucket,
    endpoint: `http://127.0.0.1:${storePort}`,
    // With an IP endpoint the client connects to the address but sends
    // "Host: <bucket>.oss-cn-hangzhou.aliyuncs.com" and the path /key, so the
    // server addresses it virtual-hosted by the Host header.
    secure: false,
    timeout: 120000,
  });
}

let passed = 0;
let failed = 0;
async function step(name, fn) {
  try {
    await fn();
    passed += 1;
    console.log(`ok   ${name}`);
  } catch (e) {
    failed += 1;
    console.log(`FAIL ${name}: ${e && e.stack ? e.stack : e}`);
  }
}

function crc64(buf) {
  let crc = ~0n & 0xffffffffffffffffn;
  const poly = 0xc96c5795d7870f42n;
  for (const b of buf) {
    crc ^= BigInt(b);
    for (let k = 0; k < 8; k += 1) crc = crc & 1n ? (crc >> 1n) ^ poly : crc >> 1n;
  }
  return (~crc & 0xffffffffffffffffn).toString();
}

async function main() {
  const creds = await issueCredentials();
  const oss = client(creds);
  const hello = Buffer.from('hello, interoperable world');

  await step('put', async () => {
    const r = await oss.put('interop/hello.txt', hello);
    assert.strictEqual(r.res.status, 200);
    const md5 = crypto.createHash('md5').update(hello).digest('hex').toUpperCase();
    assert.strictEqual(r.res.headers.etag, `"${md5}"`);
    assert.strictEqual(r.res.headers['x-oss-hash-crc64ecma'], crc64(hello));
  });

  await step('get with a range', async () => {
    const r = await oss.get('interop/hello.txt', { headers: { Range: 'bytes=7-18' } });
    assert.strictEqual(r.res.status, 206);
    assert.strictEqual(r.content.toString(), hello.subarray(7, 19).toString());
    const whole = await oss.get('interop/hello.txt');
    assert.ok(whole.content.equals(hello));
  });

  await step('head', async () => {
    const r = await oss.head('interop/hello.txt');
    assert.strictEqual(r.status, 200);
    assert.strictEqual(r.res.headers['content-length'], String(hello.length));
    assert.ok(r.res.headers['last-modified']);
  });

  await step('list with delimiter and markers', async () => {
    for (const k of ['a', 'b', 'c', 'dir/x', 'dir/y', 'dir2/z']) {
      await oss.put(`interop/list/${k}`, Buffer.from(k));
    }
    const names = [];
    const prefixes = [];
    let marker = null;
    let pages = 0;
    do {
      const q = { prefix: 'interop/list/', delimiter: '/', 'max-keys': 2 };
      if (marker) q.marker = marker;
      const r = await oss.list(q);
      pages += 1;
      (r.objects || []).forEach((o) => {
        names.push(o.name);
        assert.strictEqual(o.size, 1);
        assert.ok(o.lastModified.endsWith('.000Z'));
      });
      (r.prefixes || []).forEach((p) => prefixes.push(p));
      marker = r.isTruncated ? r.nextMarker : null;
    } while (marker && pages < 20);
    assert.deepStrictEqual(names, ['interop/list/a', 'interop/list/b', 'interop/list/c']);
    assert.deepStrictEqual(prefixes, ['interop/list/dir/', 'interop/list/dir2/']);
    assert.strictEqual(pages, 3);
  });

  await step('copy', async () => {
    const r = await oss.copy('interop/copy of hello.txt', 'interop/hello.txt');
    assert.strictEqual(r.res.status, 200);
    const g = await oss.get('interop/copy of hello.txt');
    assert.ok(g.content.equals(hello));
  });

  await step('delete', async () => {
    const r = await oss.delete('interop/copy of hello.txt');
    assert.strictEqual(r.res.status, 204);
    await assert.rejects(oss.get('interop/copy of hello.txt'), (e) => e.code === 'NoSuchKey');
  });

  await step('multipart upload in 10 MiB parts', async () => {
    const size = 25 * 1024 * 1024 + 123;
    const data = crypto.randomBytes(size);
    const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'interop-')), 'big.bin');
    fs.writeFileSync(file, data);
    try {
      const r = await oss.multipartUpload('interop/big.bin', file, {
        partSize: 10 * 1024 * 1024,
        parallel: 1,
      });
      assert.strictEqual(r.res.status, 200);
      const h = await oss.head('interop/big.bin');
      assert.strictEqual(h.res.headers['content-length'], String(size));
      assert.ok(/-3"$/.test(h.res.headers.etag), h.res.headers.etag);
      assert.strictEqual(h.res.headers['x-oss-object-type'], 'Multipart');
      const g = await oss.get('interop/big.bin');
      assert.ok(g.content.equals(data));
    } finally {
      fs.rmSync(path.dirname(file), { recursive: true, force: true });
    }
  });

  await step('expired credential surfaces as SecurityTokenExpired', async () => {
    const r = await request(http, {
      host: '127.0.0.1', port: storePort, path: '/__dev/expire-credentials', method: 'POST',
    });
    assert.strictEqual(r.status, 200);
    await assert.rejects(oss.head('interop/hello.txt'), (e) => {
      assert.strictEqual(e.code, 'SecurityTokenExpired');
      assert.strictEqual(e.status, 403);
      return true;
    });
    // A new credential works again.
    const fresh = client(await issueCredentials());
    const h = await fresh.head('interop/hello.txt');
    assert.strictEqual(h.status, 200);
  });

  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

main().catch((e) => {
  console.log(`FAIL setup: ${e && e.stack ? e.stack : e}`);
  process.exit(1);
});
