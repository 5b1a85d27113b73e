// The browser page in headless Chromium, driven by Playwright, checked against
// the command-line Vorandel and mrgtool: same messages, same bytes. The page
// is served (index.html) and opened from disk (vorandel.html, the page in one
// file, alone in a folder).
//
// Run: node page_test.mjs --page build/web --tools build/web/native
//        --chromium /usr/bin/chromium --results build/web/test-results
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { parseArgs } from 'node:util';

const { launch, applyInPage } = await import('./browser.mjs').catch(() => {
  console.error('playwright-core is missing: run npm ci --prefix tests/web');
  process.exit(1);
});

const { values: options } = parseArgs({
  options: { page: { type: 'string' }, tools: { type: 'string' },
    chromium: { type: 'string' }, results: { type: 'string' } },
});
const EXAMPLES = new URL('../../examples/', import.meta.url);
const LEVEL = fs.readFileSync(new URL('keep.lvl', EXAMPLES));
const MERGE = fs.readFileSync(new URL('keep.mrg', EXAMPLES));
const MODDED = Buffer.from(LEVEL.toString('latin1')
  .replace('gold: 100', 'gold: 5000').replace('Old Keep', 'Rich Keep'), 'latin1');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vorandel-web-'));
let server, browser, diskBrowser, page, diskPage, opfsPage;

// A merge file: the name field, then (offset, removeLength, data) records.
function mergeFile(name, actions = []) {
  const parts = [Buffer.alloc(4), Buffer.from(`${name}\0`, 'latin1')];
  parts[0].writeUInt32LE(parts[1].length);
  for (const [offset, remove, data = ''] of actions) {
    const head = Buffer.alloc(14);
    head.writeUInt16LE(2);
    head.writeUInt32LE(offset, 2);
    head.writeUInt32LE(remove, 6);
    head.writeUInt32LE(data.length, 10);
    parts.push(head, Buffer.from(data, 'latin1'));
  }
  return Buffer.concat(parts);
}

// A fresh folder holding `files`; returns its path.
function folder(files) {
  const dir = fs.mkdtempSync(path.join(scratch, 'case-'));
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  return dir;
}

// A command-line tool's standard output, run in `dir`, whatever its status.
function tool(name, dir, ...args) {
  try {
    return execFileSync(path.resolve(options.tools, name), args, { cwd: dir }).toString('latin1');
  } catch (error) {
    return error.stdout.toString('latin1');
  }
}

const lines = (text) => text.trimEnd().split('\n');

// Clicks a button of the page and gives the lines its job logged.
async function logOf(button, at = page) {
  await at.click(button);
  await at.waitForFunction(() => !document.body.classList.contains('busy'));
  return at.evaluate(() => {
    const all = [...document.querySelectorAll('#log > div')];
    const job = all.slice(all.findLastIndex((line) => line.className === 'command') + 1);
    return job.filter((line) => line.className !== 'note').map((line) => line.textContent);
  });
}

before(async () => {
  server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1',
    '--directory', options.page, '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const port = await new Promise((resolve) => server.stdout.on('data',
    (data) => /port (\d+)/.test(data) && resolve(/port (\d+)/.exec(data)[1])));
  browser = await launch(options.chromium);
  diskBrowser = await launch(options.chromium, { fromDisk: true });
  const alone = fs.mkdtempSync(path.join(scratch, 'page-'));
  fs.copyFileSync(path.join(options.page, 'vorandel.html'), path.join(alone, 'vorandel.html'));
  const open = async (at, url) => {
    const opened = await at.newPage({ viewport: { width: 1100, height: 900 } });
    opened.on('pageerror', (error) => assert.fail(`page error: ${error}`));
    await opened.goto(url);
    await opened.waitForFunction(() => window.vorandel);
    return opened;
  };
  page = await open(browser, `http://127.0.0.1:${port}/`);
  const cdp = await page.context().newCDPSession(page);
  await page.exposeFunction('setQuota', (quotaSize) => cdp.send('Storage.overrideQuotaForOrigin',
    { origin: `http://127.0.0.1:${port}`, quotaSize }));
  diskPage = await open(browser, `file://${alone}/vorandel.html`);
  opfsPage = await open(diskBrowser, `file://${alone}/vorandel.html`);
});

after(async () => {
  await browser?.close();
  await diskBrowser?.close();
  server?.kill();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// Vorandel's run on a player's folder, the Windows rules included: the log's
// lines and the files left besides maps/keep.lvl; a case without them takes
// the command-line Vorandel's as the reference.
const BEHIND = mergeFile('keep.lvl', [[97, 1]]);
const APPLY_CASES = [
  ['the example', MERGE, null, null],
  ['an unsafe name', mergeFile('..\\keep.lvl', [[0, 1]]),
    ['Unsafe level name ..\\keep.lvl in the merge file.'], { 'keep.lvl': LEVEL }],
  ['a device name', mergeFile('maps/NUL.lvl'),
    ['Unsafe level name maps/NUL.lvl in the merge file.'], { 'keep.lvl': LEVEL }],
  ['an action past the end', BEHIND, ['Backuping keep.lvl to keep.lvl.bak',
    'Processing level: keep.lvl', 'Action at offset 13 reaches past the end of the level !'],
  { 'keep.lvl': LEVEL, 'keep.lvl.bak': LEVEL }],
  ['a level in a folder', mergeFile('maps\\./keep.lvl', [[0, 8, 'kelvarin']]),
    ['Backuping maps\\./keep.lvl to maps\\./keep.lvl.bak', 'Processing level: maps\\./keep.lvl',
      'Done !'], { 'keep.lvl': LEVEL, 'maps/keep.lvl.bak': LEVEL,
      'maps/keep.lvl': Buffer.concat([Buffer.from('kelvarin'), LEVEL.subarray(8)]) }],
  ['a missing level', mergeFile('gone.lvl'),
    ["Backuping gone.lvl to gone.lvl.bak", "Can't copy the file gone.lvl to gone.lvl.bak (error 2)"],
    { 'keep.lvl': LEVEL }],
  ['a missing folder', mergeFile('gone/keep.lvl'), ['Backuping gone/keep.lvl to gone/keep.lvl.bak',
    "Can't copy the file gone/keep.lvl to gone/keep.lvl.bak (error 3)"], { 'keep.lvl': LEVEL }],
];

test('apply to a folder', async (t) => {
  for (const [name, merge, expectedLines, expectedFiles] of APPLY_CASES) {
    for (const [where, at] of [['served', page], ['from disk', opfsPage]]) {
      await t.test(`${name}, ${where}`, async () => {
        const got = await applyInPage(at, { 'keep.lvl': LEVEL, 'maps/keep.lvl': LEVEL }, merge);
        if (expectedLines) {
          assert.deepEqual(got.lines, expectedLines);
          assert.deepEqual(got.after, { 'maps/keep.lvl': LEVEL, ...expectedFiles });
          return;
        }
        // The command-line tool on the same files is the reference.
        const dir = folder({ 'keep.lvl': LEVEL, 'mod.mrg': merge });
        assert.deepEqual(got.lines, lines(tool('Vorandel', dir, 'mod.mrg')));
        assert.deepEqual(got.after, { 'maps/keep.lvl': LEVEL,
          'keep.lvl': fs.readFileSync(path.join(dir, 'keep.lvl')), 'keep.lvl.bak': LEVEL });
      });
    }
  }
});

// The mark a stopped run leaves beside the level `name`, for a backup holding `backup`.
const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');
const markOf = (name, backup) => Buffer.from(`Vorandel is rewriting the level ${name}.\n`
  + 'If this file is still here once no run is going on, a run was stopped before it finished: '
  + `the next run on this level first puts ${name} back from ${name}.bak. Leave this file where `
  + `it is.\nbackup size: ${backup.length}\n`
  + `backup sha256, first half: ${sha256(backup.subarray(0, backup.length >> 1))}\n`
  + `backup sha256, second half: ${sha256(backup.subarray(backup.length >> 1))}\n`);

// A run stopped while it rewrote the level: the page restores it first, or
// touches nothing, as the command-line Vorandel does on the same files.
const STOPPED_RUNS = [
  ['a half-written level', { 'keep.lvl': LEVEL.subarray(0, 9), 'keep.lvl.bak': LEVEL,
    'keep.lvl.merging': markOf('keep.lvl', LEVEL) }],
  ['a backup changed since', { 'keep.lvl': LEVEL.subarray(0, 9), 'keep.lvl.bak': MODDED,
    'keep.lvl.merging': markOf('keep.lvl', LEVEL) }],
];

test('apply after a stopped run', async (t) => {
  for (const [name, files] of STOPPED_RUNS) {
    await t.test(name, async () => {
      const got = await applyInPage(files, MERGE);
      const dir = folder({ ...files, 'mod.mrg': MERGE });
      assert.deepEqual(got.lines, lines(tool('Vorandel', dir, 'mod.mrg')));
      fs.rmSync(path.join(dir, 'mod.mrg'));
      assert.deepEqual(Object.fromEntries(Object.entries(got.after).map(([n, b]) => [n, Buffer.from(b, 'base64')])),
        Object.fromEntries(fs.readdirSync(dir).map((n) => [n, fs.readFileSync(path.join(dir, n))])));
    });
  }
});

test('apply to a full disk: the level stays as it was', async () => {
  const level = Buffer.alloc(2 ** 20, 'a');
  const got = await applyInPage(page, { 'big.lvl': level },
    mergeFile('big.lvl', [[0, 0, 'b'.repeat(2 ** 20)]]), 2 ** 20 * 1.5);
  assert.deepEqual(got.lines, ['Backuping big.lvl to big.lvl.bak', 'Processing level: big.lvl',
    "Can't write the level big.lvl (error 112); the level is unchanged."]);
  assert.deepEqual(got.after, { 'big.lvl': level, 'big.lvl.bak': level });
});

test('apply to a download, where folders are out of reach', async () => {
  const dir = folder({ 'keep.lvl': LEVEL, 'keep.mrg': MERGE });
  const [download, { lines: got }] = await Promise.all([page.waitForEvent('download'),
    page.evaluate(([level, merge]) => window.vorandel.applyToDownload(
      new File([new Uint8Array(level)], 'keep.lvl'), new File([new Uint8Array(merge)], 'keep.mrg')),
    [[...LEVEL], [...MERGE]])]);
  tool('Vorandel', dir, 'keep.mrg');
  assert.deepEqual(got, ['Processing level: keep.lvl', 'Done !']);
  assert.equal(download.suggestedFilename(), 'keep.lvl');
  assert.deepEqual(fs.readFileSync(await download.path()), fs.readFileSync(path.join(dir, 'keep.lvl')));
});

test('make: the merge file is mrgtool make\'s, and Vorandel applies it', async () => {
  const dir = folder({ 'keep.lvl': LEVEL, 'keep-modded.lvl': MODDED });
  await page.setInputFiles('#make-original', path.join(dir, 'keep.lvl'));
  await page.setInputFiles('#make-modified', path.join(dir, 'keep-modded.lvl'));
  const [download, said] = await Promise.all([page.waitForEvent('download'), logOf('#make')]);
  await download.saveAs(path.join(dir, 'page.mrg'));
  assert.deepEqual(said, lines(tool('mrgtool', dir, 'make', 'keep.lvl', 'keep-modded.lvl', '-o', 'keep.mrg')));
  assert.deepEqual(fs.readFileSync(path.join(dir, 'page.mrg')), fs.readFileSync(path.join(dir, 'keep.mrg')));
  assert.deepEqual(lines(tool('Vorandel', dir, 'page.mrg')).at(-1), 'Done !');
  assert.deepEqual(fs.readFileSync(path.join(dir, 'keep.lvl')), MODDED);
  // A name Vorandel would refuse is refused before the files are read.
  await page.fill('#make-name', 'maps\\..\\..\\keep.lvl');
  assert.deepEqual(await logOf('#make'), ["Can't use the level name 'maps\\..\\..\\keep.lvl': "
    + "it leads out of the current folder (absolute path, drive or '..')."]);
});

// mrgtool check on the same files is the reference, but for the page's limit.
const CHECK_CASES = [
  ['the example', MERGE, LEVEL],
  ['an action past the end', BEHIND, LEVEL],
  ['a truncated record', MERGE.subarray(0, 40), LEVEL],
  ['an invalid name', Buffer.from([200, 0, 0, 0, 65]), LEVEL],
  ['a level over 1 GiB', MERGE, 2 ** 30 + 1,
    ['File keep.lvl is too large.', 'The page takes files of up to 1 GiB; the command-line Vorandel takes larger ones.']],
];

// From disk, in a browser without --allow-file-access-from-files too.
test('check', async (t) => {
  for (const [name, merge, level, expected] of CHECK_CASES) {
    for (const [where, at] of [['served', page], ['from disk', diskPage]]) {
      await t.test(`${name}, ${where}`, async () => {
        const dir = folder({ 'keep.mrg': merge, 'keep.lvl': typeof level === 'number' ? '' : level });
        if (typeof level === 'number') fs.truncateSync(path.join(dir, 'keep.lvl'), level);
        await at.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
        await at.setInputFiles('#check-level', path.join(dir, 'keep.lvl'));
        assert.deepEqual(await logOf('#check', at),
          expected ?? lines(tool('mrgtool', dir, 'check', 'keep.mrg', 'keep.lvl')));
      });
    }
  }
});

test('never silent: index.html opened from disk says why nothing works', async () => {
  const opened = await browser.newPage();
  await opened.goto(`file://${path.resolve(options.page, 'index.html')}`);
  assert.match(await opened.textContent('#notice'), /^Opened from disk, .* Open vorandel\.html/);
  assert.ok(await opened.isDisabled('#apply'));
  assert.ok(fs.statSync(path.join(options.page, 'vorandel.html')).size <= 300 * 1024);
});

// mrgtool show on the same file is the reference: its table, or its error
// without the "mrgtool: " before it. The example comes last, for the screenshot.
const SHOW_CASES = [
  ['no actions', mergeFile('keep.lvl')],
  ['a truncated record', MERGE.subarray(0, 40)],
  ['the example', MERGE],
];

test('show: mrgtool show\'s table and the picture', async (t) => {
  for (const [name, merge] of SHOW_CASES) {
    await t.test(name, async () => {
      const dir = folder({ 'keep.mrg': merge });
      await page.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
      const said = await logOf('#show');
      const reference = spawnSync(path.resolve(options.tools, 'mrgtool'), ['show', 'keep.mrg'], { cwd: dir });
      if (reference.status === 0) assert.equal(await page.textContent('#show-table'), String(reference.stdout));
      else assert.deepEqual(said, lines(String(reference.stderr).replace(/^mrgtool: /, '')));
    });
  }
  // The third action of the example, at level offset 69 of the 82 the actions reach.
  const bar = await page.locator('#show-bar').boundingBox();
  await page.mouse.move(bar.x + (bar.width * 69.5) / 82, bar.y + 20);
  assert.match(await page.textContent('#show-row'), /\n +52 +69 +1 +1 +2e +\|\.\|$/);
  fs.mkdirSync(options.results, { recursive: true });
  await page.screenshot({ path: path.join(options.results, 'show.png'), fullPage: true });
});
