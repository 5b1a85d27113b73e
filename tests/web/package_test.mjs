// The players' packages as a player meets them: each unpacked in a fresh
// folder; Vorandel.exe under Wine and the native Vorandel on the example;
// vorandel.html opened from disk in headless Chromium applying the example to
// an origin-private folder and making a merge file. Same bytes everywhere.
//
// Run: node package_test.mjs --dist build/package/dist --windows W.zip --native N.tar.gz
//        --version 1.0.0 --chromium /usr/bin/chromium --wine /usr/bin/wine --scratch DIR
// Exits with 77 (skipped) where Wine, Chromium or playwright-core is missing.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { parseArgs } from 'node:util';

const { values: o } = parseArgs({ options: Object.fromEntries(['dist', 'windows', 'native',
  'version', 'chromium', 'wine', 'scratch'].map((name) => [name, { type: 'string' }])) });
const skip = (why) => {
  console.log(`skipped: ${why}`);
  process.exit(77);
};
for (const tool of [o.wine, o.chromium]) if (!fs.existsSync(tool)) skip(`${tool} is missing`);
const { launch, applyInPage } = await import('./browser.mjs')
  .catch(() => skip('playwright-core is missing: run npm ci --prefix tests/web'));

const LEVEL = fs.readFileSync(new URL('../../examples/keep.lvl', import.meta.url));
const MERGE = fs.readFileSync(new URL('../../examples/keep.mrg', import.meta.url));
const FILES = ['LICENSE.txt', 'README.txt', 'example/keep.lvl', 'example/keep.mrg', 'vorandel.html'];
const top = (name) => path.join(o.scratch, name, name.replace(/\.(zip|tar\.gz)$/, ''));
const env = { ...process.env, WINEPREFIX: path.join(o.scratch, '..', 'wine'), WINEDEBUG: '-all' };
let browser;

// A program's status and output lines, its output through a file: what Wine
// leaves running must hold no pipe of ours.
function run(dir, ...command) {
  const file = path.join(o.scratch, 'output');
  const out = fs.openSync(file, 'w');
  const { status } = spawnSync(command[0], command.slice(1),
    { cwd: dir, env, stdio: ['ignore', out, 'ignore'], timeout: 300000 });
  fs.closeSync(out);
  return { status, lines: fs.readFileSync(file, 'latin1').replace(/\r\n/g, '\n').trimEnd().split('\n') };
}

before(async () => {
  fs.rmSync(o.scratch, { recursive: true, force: true });
  for (const name of [o.windows, o.native]) {
    fs.mkdirSync(path.join(o.scratch, name), { recursive: true });
    execFileSync('cmake', ['-E', 'tar', 'xf', path.join(o.dist, name)], { cwd: path.join(o.scratch, name) });
  }
  run(o.scratch, o.wine, 'wineboot', '--init');
  browser = await launch(o.chromium, { fromDisk: true });
});

after(async () => {
  await browser?.close();
  spawnSync('wineserver', ['-k'], { env, stdio: 'ignore' });
});

const PACKAGES = [[o.windows, 'Vorandel.exe', 'mrgtool.exe', '\r\n'], [o.native, 'Vorandel', 'mrgtool', '\n']];

test('each package holds the programs, the page, the texts and the example; SHA256SUMS their sums', () => {
  const sums = PACKAGES.map(([name]) => `${crypto.createHash('sha256')
    .update(fs.readFileSync(path.join(o.dist, name))).digest('hex')}  ${name}\n`);
  assert.equal(fs.readFileSync(path.join(o.dist, 'SHA256SUMS'), 'utf8'), sums.join(''));
  for (const [name, vorandel, mrgtool, newline] of PACKAGES) {
    const files = fs.readdirSync(top(name), { recursive: true })
      .filter((file) => fs.statSync(path.join(top(name), file)).isFile()).sort();
    assert.deepEqual(files, [...FILES, vorandel, mrgtool].sort(), name);
    for (const text of ['README.txt', 'LICENSE.txt']) {
      const content = fs.readFileSync(path.join(top(name), text), 'latin1');
      assert.ok(content.match(/\r?\n/g).every((end) => end === newline), `${name}: ${text}'s line ends`);
      if (text === 'README.txt') assert.doesNotMatch(content, /\]\(/); // links written out
    }
  }
});

test('Vorandel.exe under Wine and the native Vorandel merge the example alike', () => {
  const [[windows], [native]] = PACKAGES.map(([name, vorandel, mrgtool]) => {
    const program = (file) => (file.endsWith('.exe') ? [o.wine, file] : [file]);
    assert.deepEqual(run(top(name), ...program(path.join(top(name), mrgtool)), '--version').lines,
      [`mrgtool ${o.version}`]);
    const example = path.join(top(name), 'example');
    const said = run(example, ...program(path.join(top(name), vorandel)), 'keep.mrg');
    return [{ ...said, level: fs.readFileSync(path.join(example, 'keep.lvl')),
      backup: fs.readFileSync(path.join(example, 'keep.lvl.bak')) }];
  });
  assert.deepEqual(windows, native);
  assert.deepEqual(native.lines, ['Backuping keep.lvl to keep.lvl.bak', 'Processing level: keep.lvl', 'Done !']);
  assert.deepEqual(native.backup, LEVEL);
});

test('vorandel.html opened from disk applies the example and makes a merge file', async () => {
  const page = await browser.newPage();
  page.on('pageerror', (error) => assert.fail(`page error: ${error}`));
  await page.goto(`file://${top(o.windows)}/vorandel.html`);
  await page.waitForFunction(() => window.vorandel);
  const got = await applyInPage(page, { 'keep.lvl': LEVEL }, MERGE);
  const dir = path.join(o.scratch, 'make');
  fs.mkdirSync(dir);
  // The native Vorandel merged the example above.
  fs.copyFileSync(path.join(top(o.native), 'example', 'keep.lvl'), path.join(dir, 'modded.lvl'));
  fs.writeFileSync(path.join(dir, 'keep.lvl'), LEVEL);
  assert.deepEqual(got.after, { 'keep.lvl': fs.readFileSync(path.join(dir, 'modded.lvl')), 'keep.lvl.bak': LEVEL });
  assert.deepEqual(got.lines, ['Backuping keep.lvl to keep.lvl.bak', 'Processing level: keep.lvl', 'Done !']);
  // The merge file made of the example's level and the one merged above.
  await page.setInputFiles('#make-original', path.join(dir, 'keep.lvl'));
  await page.setInputFiles('#make-modified', path.join(dir, 'modded.lvl'));
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#make')]);
  await download.saveAs(path.join(dir, 'keep.mrg'));
  assert.equal(run(dir, path.join(top(o.native), 'Vorandel'), 'keep.mrg').status, 0);
  assert.deepEqual(fs.readFileSync(path.join(dir, 'keep.lvl')), fs.readFileSync(path.join(dir, 'modded.lvl')));
});
