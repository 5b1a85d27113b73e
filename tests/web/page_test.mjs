// The browser page in headless Chromium, driven by Playwright, checked against
// the command-line Vorandel and mrgtool: same messages, same bytes. The page
// is served (index.html) and opened from disk (vorandel.html, the page in one
// file, alone in a folder).
//
// Run: node page_test.mjs --page build/web --tools build/web/native
//        --chromium /usr/bin/chromium --results build/web/test-results
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { parseArgs } from 'node:util';

const { launch, applyInPage, putFolder, readFolder } = await import('./browser.mjs').catch(() => {
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

// A merge file: the name field, with `tail` after the name's NUL, then
// (offset, removeLength, data) records.
function mergeFile(name, actions = [], tail = '') {
  const parts = [Buffer.alloc(4), Buffer.from(`${name}\0${tail}`, 'latin1')];
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

// A fresh folder holding `files` ('/' makes folders); returns its path.
function folder(files) {
  const dir = fs.mkdtempSync(path.join(scratch, 'case-'));
  for (const [name, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), bytes);
  }
  return dir;
}

// The files under `dir`, name to bytes.
const filesOf = (dir) => Object.fromEntries(fs.readdirSync(dir, { recursive: true })
  .filter((name) => fs.statSync(path.join(dir, name)).isFile())
  .map((name) => [name, fs.readFileSync(path.join(dir, name))]));

// Names are bytes to the tools: UTF-8 where they are, else Latin-1.
const decode = (bytes) => {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return bytes.toString('latin1');
  }
};

const lines = (text) => text.trimEnd().split('\n');

// What a command-line tool prints, standard error in its place among the
// output, run in `dir`: its text, as lines, and its exit status.
function tool(name, dir, ...args) {
  const file = path.join(scratch, 'output');
  const out = fs.openSync(file, 'w');
  const { status } = spawnSync(path.resolve(options.tools, name), args,
    { cwd: dir, stdio: ['ignore', out, out] });
  fs.closeSync(out);
  const text = decode(fs.readFileSync(file));
  return { text, lines: lines(text), status };
}

// Whether the page's job ends well where the tool ends with `status` on the
// same files: Vorandel's 0 (else 255), mrgtool's 0; and mrgtool check's 3,
// a level merged already, which the page's Check gives as its verdict.
const endsWell = (status, command = '') => status === 0 || (command === 'check' && status === 3);

// The job's lines and outcome as the tool's on the same files.
function assertSame(got, reference, command) {
  assert.deepEqual(got.lines, reference.lines);
  assert.equal(got.ok, endsWell(reference.status, command), `ended well, by status ${reference.status}`);
}

// Files with the times of their histories' entries zeroed, with the pack ids
// made of them, and the entries' checks: runs at other moments write other times. Bytes that are
// no history stay as they are.
function timeless(files) {
  const zeroed = (bytes) => {
    if (bytes.length < 30 || bytes.readUInt32BE(0) !== 0x7f564c48) return bytes;
    const out = Buffer.from(bytes);
    for (let at = out[5], length; at < out.length; at += length) {
      length = at + 4 <= out.length ? out.readUInt32LE(at) : 0;
      if (length < 76 || at + length > out.length) return bytes;
      out.fill(0, at + 68, at + 84).fill(0, at + length - 4, at + length);
    }
    return out;
  };
  return Object.fromEntries(Object.entries(files).map(([name, bytes]) =>
    [name, /\.history(\.new|\.\d+)?$/.test(name) ? zeroed(bytes) : bytes]));
}

// A file's XXH3-128 as the native mrgtool records it: in the record of a
// merge file made from the file to itself.
function xxh3(bytes) {
  const dir = folder({ a: bytes });
  tool('mrgtool', dir, 'make', 'a', 'a', '--name', 'a', '-o', 'a.mrg', '--allow-empty');
  return JSON.parse(tool('mrgtool', dir, 'show', '--json', 'a.mrg').text).record.madeFor.xxh3_128;
}

// What the native tool `name` leaves of `files` after `args`, run in a folder
// holding them: the file `wanted`.
function made(name, files, wanted, ...args) {
  const dir = folder(files);
  tool(name, dir, ...args);
  return fs.readFileSync(path.join(dir, wanted));
}

// The example applied; the example without the record of its levels; a
// level of another version.
const MERGED = made('Vorandel', { 'keep.lvl': LEVEL, 'keep.mrg': MERGE }, 'keep.lvl', 'keep.mrg');
const UNRECORDED = Buffer.concat([mergeFile('keep.lvl'), MERGE.subarray(4 + MERGE.readUInt32LE(0))]);
const OTHER = Buffer.from(LEVEL.toString('latin1').replace('gold: 100', 'gold: 250'), 'latin1');

// Mods without a record, which go in over any level long enough: A and B
// change bytes of their own, C bytes that A wrote.
const MOD_A = mergeFile('keep.lvl', [[38, 3, '300']]);
const MOD_B = mergeFile('keep.lvl', [[23, 3, 'New']]);
const MOD_C = mergeFile('keep.lvl', [[38, 1, '9']]);

// The files the native Vorandel leaves of `files` once it has applied the
// merge files `merges` (name to bytes) one after the other: the level, its
// backup and its history.
function applied(merges, files = { 'keep.lvl': LEVEL }) {
  const dir = folder(files);
  for (const [name, bytes] of Object.entries(merges)) {
    fs.writeFileSync(path.join(dir, name), bytes);
    tool('Vorandel', dir, name);
    fs.rmSync(path.join(dir, name));
  }
  return filesOf(dir);
}
const WITH_A = applied({ 'a.mrg': MOD_A });
const WITH_AB = applied({ 'a.mrg': MOD_A, 'b.mrg': MOD_B });
const HISTORY_A = WITH_A['keep.lvl.history'];

// Clicks a button of the page and gives the lines of the job it started and
// whether it ended well.
async function logOf(button, at = page) {
  const count = () => document.querySelectorAll('#log > .command').length;
  const before = await at.evaluate(count);
  await at.click(button);
  await at.waitForFunction((before) => !document.body.classList.contains('busy')
    && document.querySelectorAll('#log > .command').length > before, before);
  return at.evaluate(() => {
    const all = [...document.querySelectorAll('#log > div')];
    const start = all.findLastIndex((line) => line.className === 'command');
    return { lines: all.slice(start + 1).filter((line) => line.className !== 'note')
      .map((line) => line.textContent), ok: all[start].dataset.ok === 'true' };
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
// lines, the files left besides maps/keep.lvl and Vorandel's exit status on
// Windows; a case without them takes the command-line Vorandel's, run on the
// same files, as the reference.
const BEHIND = mergeFile('keep.lvl', [[97, 1]]);
const GONE = Symbol('a merge file deleted once picked');
const IN_FOLDER = mergeFile('maps\\./keep.lvl', [[0, 8, 'kelvarin']]);
const APPLY_CASES = [
  ['the example', MERGE, null, null],
  ['an unsafe name', mergeFile('..\\keep.lvl', [[0, 1]]),
    ['Unsafe level name ..\\keep.lvl in the merge file.'], { 'keep.lvl': LEVEL }, 255],
  ['a device name', mergeFile('maps/NUL.lvl'),
    ['Unsafe level name maps/NUL.lvl in the merge file.'], { 'keep.lvl': LEVEL }, 255],
  ['a name that would retitle and clear a terminal', mergeFile('\x1b]0;title\x07\x1b[2J', [[0, 1]]),
    null, null],
  ['a merge file gone since it was picked', GONE, null, null],
  ['an action past the end', BEHIND, ['Backuping keep.lvl to keep.lvl.bak',
    'Processing level: keep.lvl', 'Action at offset 13 reaches past the end of the level !'],
  { 'keep.lvl': LEVEL, 'keep.lvl.bak': LEVEL }, 255],
  // Its history as the native Vorandel writes it of the same merge file, in a
  // folder named "maps\." here, where '\' separates nothing.
  ['a level in a folder', IN_FOLDER,
    ['Backuping maps\\./keep.lvl to maps\\./keep.lvl.bak', 'Processing level: maps\\./keep.lvl',
      'Done !'], { 'keep.lvl': LEVEL, 'maps/keep.lvl.bak': LEVEL,
      'maps/keep.lvl': Buffer.concat([Buffer.from('kelvarin'), LEVEL.subarray(8)]),
      'maps/keep.lvl.history': made('Vorandel', { 'maps\\./keep.lvl': LEVEL, 'mod.mrg': IN_FOLDER },
        'maps\\./keep.lvl.history', 'mod.mrg') }, 0],
  ['a missing level', mergeFile('gone.lvl'),
    ["Backuping gone.lvl to gone.lvl.bak", "Can't copy the file gone.lvl to gone.lvl.bak (error 2)"],
    { 'keep.lvl': LEVEL }, 255],
  ['a missing folder', mergeFile('gone/keep.lvl'), ['Backuping gone/keep.lvl to gone/keep.lvl.bak',
    "Can't copy the file gone/keep.lvl to gone/keep.lvl.bak (error 3)"], { 'keep.lvl': LEVEL }, 255],
  ['a level named ./keep.lvl', mergeFile('./keep.lvl', [[0, 8, 'kelvarin']]), null, null],
  ['a damaged record', mergeFile('keep.lvl', [[0, 1]], '\x7fVLR\x01\x32'), null, null],
];

test('apply to a folder', async (t) => {
  const levels = { 'keep.lvl': LEVEL, 'maps/keep.lvl': LEVEL };
  for (const [name, merge, expectedLines, expectedFiles, status] of APPLY_CASES) {
    for (const [where, at] of [['served', page], ['from disk', opfsPage]]) {
      await t.test(`${name}, ${where}`, async () => {
        const dir = folder({ ...levels, 'mod.mrg': merge === GONE ? MERGE : merge });
        if (merge === GONE) {
          // A file chooser gives the file's size at once; setInputFiles only when asked.
          await at.setInputFiles('#apply-merge', path.join(dir, 'mod.mrg'));
          await at.evaluate(() => document.getElementById('apply-merge').files[0].size);
          fs.rmSync(path.join(dir, 'mod.mrg'));
        }
        const got = await applyInPage(at, levels, merge === GONE ? null : merge);
        if (expectedLines) {
          assertSame(got, { lines: expectedLines, status });
          assert.deepEqual(timeless(got.after), timeless({ 'maps/keep.lvl': LEVEL, ...expectedFiles }));
          return;
        }
        assertSame(got, tool('Vorandel', dir, 'mod.mrg'));
        fs.rmSync(path.join(dir, 'mod.mrg'), { force: true });
        assert.deepEqual(timeless(got.after), timeless(filesOf(dir)));
      });
    }
  }
});

// The mark a stopped run leaves beside the level `name`, for a backup holding
// `backup`, of which it makes `merged`: Vorandel 1.1.0's, or where it first
// changes the level is given, one of a run that writes a history.
const markOf = (name, backup, merged, firstChange) => Buffer.from(`Vorandel is rewriting the level ${name}.\n`
  + 'If this file is still here once no run is going on, a run was stopped before it finished: '
  + `the next run on this level finds ${name} finished, or first puts it back from ${name}.bak. `
  + `Leave this file where it is.\nbackup size: ${backup.length}\nbackup xxh3-128: `
  + `${xxh3(backup)}\nmerged size: ${merged.length}\nmerged xxh3-128: ${xxh3(merged)}\n`
  + (firstChange === undefined ? '' : `first change at: ${firstChange}\n`));
const MARK = markOf('keep.lvl', LEVEL, MERGED);
const MARK_3 = markOf('keep.lvl', LEVEL, MERGED, 23);
const DRAFT = applied({ 'keep.mrg': MERGE })['keep.lvl.history'];
const MARK_1_0 = Buffer.from('Vorandel is rewriting the level keep.lvl.\nIf this file is still '
  + 'here once no run is going on, a run was stopped before it finished: the next run on this '
  + 'level first puts keep.lvl back from keep.lvl.bak. Leave this file where it is.\nbackup size: '
  + `${LEVEL.length}\nbackup sha256, first half: ${'a'.repeat(64)}\nbackup sha256, second half: `
  + `${'b'.repeat(64)}\n`);
const HALF = LEVEL.subarray(0, 9);

// The folder as Vorandel finds it: a stopped run's mark, and the history's
// draft beside it; a level merged already, one of another version; a history
// of mods in the level, or one the level no longer ends; the page restores,
// goes on or touches nothing as the command-line Vorandel does on the same
// files, word for word, and leaves the same files.
const FOUND_FOLDERS = [
  ['a half-written level', { 'keep.lvl': HALF, 'keep.lvl.bak': LEVEL, 'keep.lvl.merging': MARK },
    MERGE, /^Restored keep\.lvl from keep\.lvl\.bak/],
  ['a level gone, a mark', { 'keep.lvl.bak': LEVEL, 'keep.lvl.merging': MARK }, MERGE, /^Restored/],
  ['a backup changed since', { 'keep.lvl': HALF, 'keep.lvl.bak': MODDED, 'keep.lvl.merging': MARK },
    MERGE, /no longer holds the level as it was/],
  ['a backup missing', { 'keep.lvl': HALF, 'keep.lvl.merging': MARK }, MERGE, /can't be read \(error 2\)/],
  ['a damaged mark', { 'keep.lvl': HALF, 'keep.lvl.bak': LEVEL, 'keep.lvl.merging': MARK.subarray(1) },
    MERGE, /is damaged/],
  ['a mark that is a folder', { 'keep.lvl': HALF, 'keep.lvl.bak': LEVEL, 'keep.lvl.merging/x': LEVEL },
    MERGE, /^Can't read keep\.lvl\.merging \(error 5\)/],
  ['a mark of Vorandel 1.0.0', { 'keep.lvl': HALF, 'keep.lvl.bak': LEVEL, 'keep.lvl.merging': MARK_1_0 },
    MERGE, /mark of a run of Vorandel 1\.0\.0/],
  ['a level finished, its mark left', { 'keep.lvl': MERGED, 'keep.lvl.bak': LEVEL,
    'keep.lvl.merging': MARK }, MERGE, /^keep\.lvl already holds what this merge file makes/],
  ['a level merged, no record', { 'keep.lvl': MERGED, 'keep.lvl.bak': LEVEL }, UNRECORDED,
    /already holds/],
  ['a level merged, its record', { 'keep.lvl': MERGED }, MERGE, /already holds/],
  ['another version, its record', { 'keep.lvl': OTHER, 'keep.lvl.bak': LEVEL }, MERGE,
    /^keep\.lvl is not the level this merge file was made for/],
  ['another version, no record', { 'keep.lvl': HALF }, UNRECORDED, /^Backuping/],
  ['a level finished, its mark and the history\'s draft left', { 'keep.lvl': MERGED,
    'keep.lvl.bak': LEVEL, 'keep.lvl.merging': MARK_3, 'keep.lvl.history.new': DRAFT }, MERGE,
  /^keep\.lvl already holds/],
  ['a half-written level put back, the history\'s draft', { 'keep.lvl': OTHER.subarray(0, 9),
    'keep.lvl.bak': OTHER, 'keep.lvl.merging': markOf('keep.lvl', OTHER, MERGED, 23),
    'keep.lvl.history.new': DRAFT }, MERGE, /^Restored .*\nkeep\.lvl is not the level/],
  ['a mark of Vorandel 1.1.0, a draft that is no run\'s', { 'keep.lvl': MERGED, 'keep.lvl.bak': LEVEL,
    'keep.lvl.merging': MARK, 'keep.lvl.history.new': DRAFT }, MERGE, /^keep\.lvl already holds/],
  ['a level put in place since, a draft', { 'keep.lvl': Buffer.from(`k${LEVEL.subarray(1)}`), 'keep.lvl.bak': LEVEL,
    'keep.lvl.merging': MARK_3, 'keep.lvl.history.new': DRAFT }, MERGE, /was put in place/],
  ['a mod in, under a later one', WITH_AB, MOD_A, /^keep\.lvl already holds .*, with b\.mrg put in since/],
  ['made for the level before a mod went in', WITH_A, MERGE, /before a\.mrg went in/],
  ['over a mod', WITH_AB, MOD_C, /^This merge file changes bytes that a\.mrg wrote/],
  ['a damaged history, a history kept before', { ...WITH_A, 'keep.lvl.history.1': LEVEL,
    'keep.lvl.history': HISTORY_A.subarray(1) }, MOD_B, /is damaged: it is kept as keep\.lvl\.history\.2/],
  ['a level changed behind its history', { ...WITH_A, 'keep.lvl': OTHER }, MOD_B, /changed since/],
  ['a level back at its original', { ...WITH_A, 'keep.lvl': LEVEL }, MOD_B, /is again the level from before/],
  ['a history that is a folder', { 'keep.lvl': WITH_A['keep.lvl'], 'keep.lvl.history/x': LEVEL },
    MOD_B, /^Can't read keep\.lvl\.history/],
];

test('apply to a folder as Vorandel finds it', async (t) => {
  for (const [name, files, merge, expected] of FOUND_FOLDERS) {
    for (const [where, at] of [['served', page], ['from disk', opfsPage]]) {
      await t.test(`${name}, ${where}`, async () => {
        const got = await applyInPage(at, files, merge);
        const dir = folder({ ...files, 'mod.mrg': merge });
        assertSame(got, tool('Vorandel', dir, 'mod.mrg'));
        assert.match(got.lines.join('\n'), expected);
        fs.rmSync(path.join(dir, 'mod.mrg'));
        assert.deepEqual(timeless(got.after), timeless(filesOf(dir)));
        await assertListedAfter(got, 'keep.lvl', at);
      });
    }
  }
});

test('apply to a full disk: the level stays as it was', async () => {
  const level = Buffer.alloc(2 ** 20, 'a');
  const got = await applyInPage(page, { 'big.lvl': level },
    mergeFile('big.lvl', [[0, 0, 'b'.repeat(2 ** 20)]]), 2 ** 20 * 1.5);
  assertSame(got, { lines: ['Backuping big.lvl to big.lvl.bak', 'Processing level: big.lvl',
    "Can't write the level big.lvl (error 112); the level is unchanged."], status: 255 });
  assert.deepEqual(got.after, { 'big.lvl': level, 'big.lvl.bak': level });
});

// Where folders are out of reach: the level chosen, its file name, the merge
// file. The reference is the command-line Vorandel in a folder holding the
// level alone, without its backup line; a download is the level it leaves.
const DOWNLOAD_CASES = [
  ['the example', LEVEL, 'keep.lvl', MERGE],
  ['a level merged, its record', MERGED, 'keep.lvl', MERGE],
  ['another version, its record', OTHER, 'keep.lvl', MERGE],
  ['a level merged, no record: no backup tells', MERGED, 'keep.lvl', UNRECORDED],
  ['a level under another name', LEVEL, 'keep (1).lvl', MERGE],
];

test('apply to a download: the verdicts, and object URLs revoked', async (t) => {
  await page.evaluate(() => {
    const { createObjectURL, revokeObjectURL } = URL;
    window.urls = { made: [], revoked: [] };
    URL.createObjectURL = (blob) => window.urls.made[window.urls.made.push(createObjectURL(blob)) - 1];
    URL.revokeObjectURL = (url) => revokeObjectURL(url, window.urls.revoked.push(url));
  });
  for (const [name, level, chosen, merge] of DOWNLOAD_CASES) {
    await t.test(name, async () => {
      const dir = folder({ 'keep.lvl': level, 'keep.mrg': merge });
      const { lines: said, status } = tool('Vorandel', dir, 'keep.mrg');
      const reference = said.filter((line) => !/^Backuping/.test(line));
      const urls = await page.evaluate(() => window.urls.made.length);
      const downloaded = reference.at(-1) === 'Done !' && page.waitForEvent('download');
      const got = await page.evaluate(([level, chosen, merge]) => window.vorandel.applyToDownload(
        new File([new Uint8Array(level)], chosen), new File([new Uint8Array(merge)], 'keep.mrg')),
      [[...level], chosen, [...merge]]);
      const note = chosen === 'keep.lvl' ? []
        : [`The merge file is for keep.lvl, and the level chosen is named ${chosen}: make sure it is `
          + 'that level.'];
      assertSame(got, { lines: [...note, ...reference], status });
      if (reference.at(-1) !== 'Done !') {
        assert.equal(await page.evaluate(() => window.urls.made.length), urls);
        return;
      }
      const download = await downloaded;
      assert.equal(download.suggestedFilename(), 'keep.lvl');
      assert.deepEqual(fs.readFileSync(await download.path()), fs.readFileSync(path.join(dir, 'keep.lvl')));
      await page.waitForFunction(() => window.urls.made.length === window.urls.revoked.length);
    });
  }
});

// A mod applied twice to one folder: the second time, Vorandel's verdict,
// and nothing changed, with the merge file's record or by its backup. The
// history names the merge file as the page knows it: Vorandel is given its
// name alone, in the level's folder.
test('apply twice: the second time, the level is found merged', async (t) => {
  for (const [name, bytes] of [['no record', UNRECORDED], ['its record', MERGE]]) {
    await t.test(name, async () => {
      const dir = folder({ 'keep.lvl': LEVEL });
      const merge = path.join(folder({ 'keep.mrg': bytes }), 'keep.mrg');
      const id = await putFolder(page, { 'keep.lvl': LEVEL });
      await page.evaluate((id) => { document.getElementById('folder').handle = window.testFolders[id]; }, id);
      await page.setInputFiles('#apply-merge', merge);
      for (const expected of [/^Backuping/, /^keep\.lvl already holds what this merge file makes/]) {
        const said = await logOf('#apply');
        fs.copyFileSync(merge, path.join(dir, 'keep.mrg'));
        assertSame(said, tool('Vorandel', dir, 'keep.mrg'));
        fs.rmSync(path.join(dir, 'keep.mrg'));
        assert.match(said.lines[0], expected);
        assert.deepEqual(timeless(await readFolder(page, id)), timeless(filesOf(dir)));
      }
    });
  }
});

// The folder `files` (name to bytes) as the page's data folder, in `at`:
// gives the folder's id (putFolder).
async function asDataFolder(files, at = page) {
  const id = await putFolder(at, files);
  await at.evaluate((id) => { document.getElementById('folder').handle = window.testFolders[id]; }, id);
  return id;
}

// The list of a level's mods the page shows: its lines, the lines of the
// mods it offers to take out with their buttons' names, and whether it
// offers Back to the original.
const shownMods = (at = page) => at.evaluate(() => {
  const shown = (selector) => [...document.querySelectorAll(selector)].filter((e) => e.checkVisibility());
  return {
    list: shown('#mods-list .line').map((line) => line.textContent),
    removable: shown('#mods-list li').filter((item) => item.querySelector('button'))
      .map((item) => [item.querySelector('.line').textContent,
        item.querySelector('button').getAttribute('aria-label')]),
    original: shown('#original').length > 0,
  };
});

// The page's list of the level `level`, asked for in the page.
async function listed(level) {
  await page.fill('#mods-level', level);
  return { ...await logOf('#list-mods'), ...await shownMods() };
}

// A run on keep.lvl that ends well lists the level's mods as it left them,
// and one that lists them at all lists them so: as mrgtool mods does on the
// files the run left.
async function assertListedAfter(got, level = 'keep.lvl', at = page) {
  const { list } = await shownMods(at);
  if (got.ok || list.length > 0)
    assert.deepEqual(list, tool('mrgtool', folder(got.after), 'mods', level).lines);
}

const WITH_AC = applied({ 'a.mrg': MOD_A, 'c.mrg': MOD_C });
const inMaps = (files) => Object.fromEntries(Object.entries(files).map(([n, b]) => [`maps/${n}`, b]));

// The page's list of a level's mods against mrgtool mods on the same files:
// its text, or its error; the Remove buttons where the mods can come out;
// no file touched. Where mrgtool would leave the data folder, the page
// refuses in its own words.
const MODS_CASES = [
  ['no history', { 'keep.lvl': LEVEL }, 'keep.lvl'],
  ['two mods', WITH_AB, 'keep.lvl'],
  ['a mod whose bytes a later one changed', WITH_AC, 'keep.lvl'],
  ['a damaged history', { ...WITH_A, 'keep.lvl.history': HISTORY_A.subarray(1) }, 'keep.lvl'],
  ['a level changed behind its history', { ...WITH_A, 'keep.lvl': OTHER }, 'keep.lvl'],
  ['a level back at its original', { ...WITH_A, 'keep.lvl': LEVEL }, 'keep.lvl'],
  ['a history that is a folder', { 'keep.lvl': LEVEL, 'keep.lvl.history/x': LEVEL }, 'keep.lvl'],
  ['a missing level', { 'other.lvl': LEVEL }, 'keep.lvl'],
  ['a level in a folder', inMaps(WITH_AB), 'maps/keep.lvl'],
  ['a missing folder', { 'keep.lvl': LEVEL }, 'gone/keep.lvl'],
  ['a path that names no file', { 'keep.lvl': LEVEL }, 'maps/'],
  ['a path out of the data folder', { 'keep.lvl': LEVEL }, '../keep.lvl', { lines: ['../keep.lvl: '
    + 'the page reaches only the files inside the data folder. Give the level\'s path from there, '
    + 'as its merge file names it.'], status: 1 }],
];

test('the mods in a level, as mrgtool mods lists them', async (t) => {
  for (const [name, files, level, expected] of MODS_CASES) {
    await t.test(name, async () => {
      const id = await asDataFolder(files);
      const got = await listed(level);
      const dir = folder(files);
      const reference = expected ?? tool('mrgtool', dir, 'mods', level);
      if (got.ok) assertSame({ ...got, lines: got.list }, reference);
      else assertSame(got, reference);
      const state = reference.status === 0 && JSON.parse(tool('mrgtool', dir, 'mods', level, '--json').text);
      const removable = state?.state === 'mods in'
        ? state.mods.map((mod, i) => [reference.lines[i + 1], `Remove ${mod.name}`]) : [];
      assert.deepEqual(got.removable, got.ok ? removable : []);
      assert.equal(got.original, removable.length > 0);
      assert.deepEqual(await readFolder(page, id), files);
    });
  }
});

// What the native tool `name` leaves of `files` after `args`, run in a
// folder holding them: all its files.
function ran(files, name, ...args) {
  const dir = folder(files);
  tool(name, dir, ...args);
  return filesOf(dir);
}

// The page's Remove and Back to the original against mrgtool remove and
// original on the same files: lines, outcome and the files left, through
// the list's buttons where it offers them.
const REMOVE_CASES = [
  ['the only mod', WITH_A, ['remove', 'a.mrg', 'keep.lvl']],
  ['a mod under a later one', WITH_AB, ['remove', 'a.mrg', 'keep.lvl']],
  ['a mod whose bytes a later one changed', WITH_AC, ['remove', 'a.mrg', 'keep.lvl']],
  ['every mod', WITH_AC, ['original', 'keep.lvl']],
  ['every mod, where none is in', ran(WITH_A, 'mrgtool', 'remove', 'a.mrg', 'keep.lvl'),
    ['original', 'keep.lvl']],
  ['a mod not in', WITH_A, ['remove', 'b.mrg', 'keep.lvl']],
  ['a level changed behind its history', { ...WITH_A, 'keep.lvl': OTHER }, ['remove', 'a.mrg', 'keep.lvl']],
  ['no history', { 'keep.lvl': LEVEL }, ['original', 'keep.lvl']],
  ['a missing level', { 'other.lvl': LEVEL }, ['original', 'keep.lvl']],
  ['a level in a folder', inMaps(WITH_AB), ['remove', 'b.mrg', 'maps/keep.lvl']],
];

test('remove and back to the original, as mrgtool remove and original', async (t) => {
  for (const [name, files, args] of REMOVE_CASES) {
    await t.test(name, async () => {
      const [command, mod] = args;
      const level = args.at(-1);
      const id = await asDataFolder(files);
      const { removable, original } = await listed(level);
      const button = command === 'original' ? original && '#original'
        : removable.some(([, label]) => label === `Remove ${mod}`)
          && `#mods-list button[aria-label="Remove ${mod}"]`;
      const got = button ? await logOf(button) : await page.evaluate(([id, level, mod]) => {
        const folder = window.testFolders[id];
        return mod ? window.vorandel.remove(folder, level, { name: mod, shown: mod })
          : window.vorandel.original(folder, level);
      }, [id, level, command === 'remove' && mod]);
      const dir = folder(files);
      assertSame(got, tool('mrgtool', dir, ...args));
      const after = await readFolder(page, id);
      assert.deepEqual(timeless(after), timeless(filesOf(dir)));
      await assertListedAfter({ ...got, after }, level);
    });
  }
});

// A page stopped before each of its writes and deletes in turn, as a closed
// tab stops it: the files it leaves are put right by the next run on them,
// the command-line tool's and the page's alike, word for word and file for
// file, and end with the change made, once. Each scenario: the files, the
// command, the merge file it applies, and the mods in the level at its end.
const STOPPED = [
  ['an apply over a mod', WITH_A, ['Vorandel', 'b.mrg'], MOD_B, ['a.mrg', 'b.mrg']],
  ['an apply that keeps a damaged history', { ...WITH_A, 'keep.lvl.history': HISTORY_A.subarray(1) },
    ['Vorandel', 'b.mrg'], MOD_B, ['b.mrg']],
  ['a removal', WITH_AB, ['mrgtool', 'remove', 'a.mrg', 'keep.lvl'], null, ['b.mrg']],
];

// The scenario's job in the page `at`, on its folder `id`.
const startIn = (at, id, command, merge) => at.evaluate(([id, command, merge]) => {
  const folder = window.testFolders[id];
  window.ended = null;
  const file = (name) => new File([new Uint8Array(merge[name] ?? merge)], name);
  const job = command[0] === 'Vorandel' ? window.vorandel.applyToFolder(folder, file(command[1]))
    : command[1] === 'apply' ? window.vorandel.applyToFolder(folder, command.slice(2).map(file))
      : window.vorandel.remove(folder, command[3], { name: command[2], shown: command[2] });
  return job.then((ended) => { window.ended = ended; return ended; });
}, [id, command, merge && (Buffer.isBuffer(merge) ? [...merge]
  : Object.fromEntries(Object.entries(merge).map(([name, bytes]) => [name, [...bytes]])))]);

// The scenario's job run in a new page, stopped before its file operation
// `stop` (file writes, moves and deletes counted), if it gets there; where
// `canMove` is false, in a browser that can't move files. Gives the files it
// leaves, whether it was stopped, and else how it ended.
async function runStopped(files, command, merge, stop, canMove = true) {
  const at = await browser.newPage();
  await at.goto(page.url());
  await at.waitForFunction(() => window.vorandel);
  while (at.workers().length === 0) await new Promise((resolve) => setTimeout(resolve, 20));
  const [worker] = at.workers();
  await worker.evaluate(([stop, canMove]) => {
    let count = 0;
    const halt = (prototype, method) => {
      const real = prototype[method];
      prototype[method] = function (...args) {
        if (++count < stop) return real.apply(this, args);
        self.stopped = true;
        return new Promise(() => {});
      };
    };
    halt(FileSystemFileHandle.prototype, 'createWritable');
    halt(FileSystemFileHandle.prototype, 'move');
    halt(FileSystemDirectoryHandle.prototype, 'removeEntry');
    if (!canMove) delete FileSystemFileHandle.prototype.move;
  }, [stop, canMove]);
  const id = await putFolder(at, files);
  startIn(at, id, command, merge).catch(() => {});
  let stopped = false;
  while (!stopped && await at.evaluate(() => window.ended === null))
    stopped = await worker.evaluate(() => self.stopped === true);
  const left = await readFolder(at, id);
  const ended = await at.evaluate(() => window.ended);
  await at.close();
  return { left, stopped, ended };
}

test('a page stopped between its writes: the next run puts the folder right', async (t) => {
  for (const [name, files, command, merge, mods] of STOPPED) {
    const run = (left) => {
      const dir = folder({ ...left, ...(merge && { [command[1]]: merge }) });
      const said = tool(command[0], dir, ...command.slice(1));
      if (merge) fs.rmSync(path.join(dir, command[1]));
      return { said, after: filesOf(dir), dir };
    };
    const whole = run(files);
    for (let stop = 1; ; stop++) {
      const { left, stopped } = await runStopped(files, command, merge, stop);
      if (!stopped) break;
      await t.test(`${name}, stopped before its file operation ${stop}`, async () => {
        // The next run, by the tool and by the page.
        const { said, after, dir } = run(left);
        const id = await putFolder(page, left);
        assertSame(await startIn(page, id, command, merge), said);
        assert.deepEqual(timeless(await readFolder(page, id)), timeless(after));
        assert.deepEqual(after['keep.lvl'], whole.after['keep.lvl']);
        const listed = JSON.parse(tool('mrgtool', dir, 'mods', 'keep.lvl', '--json').text);
        assert.deepEqual(listed.mods.map((mod) => mod.name), mods);
      });
    }
    await t.test(`${name}, where the browser can't move files`, async () => {
      const { left, ended } = await runStopped(files, command, merge, Infinity, false);
      assertSame(ended, whole.said);
      assert.deepEqual(timeless(left), timeless(whole.after));
    });
  }
});

// A pack of three levels, a merge file each (one in a folder, one without a
// record), as mrgtool apply puts it in: the page's lines and files against
// mrgtool apply's on the same files, the histories naming the pack.
const PACK = { 'a.mrg': MOD_A, 'b.mrg': mergeFile('maps/fort.lvl', [[23, 3, 'New']]),
  'c.mrg': mergeFile('town.lvl', [[0, 4, 'Town']]) };
const PACK_LEVELS = { 'keep.lvl': LEVEL, 'maps/fort.lvl': LEVEL, 'town.lvl': OTHER };
const withoutMerges = (files) => Object.fromEntries(Object.entries(files)
  .filter(([name]) => !name.endsWith('.mrg')));
const PACKED = withoutMerges(ran({ ...PACK_LEVELS, ...PACK }, 'mrgtool', 'apply', ...Object.keys(PACK)));
const PACK_CASES = [
  ['three levels put in', PACK_LEVELS, PACK, /^The pack a\.mrg is in: 3 levels changed\.$/],
  ['a part made for another version: refused, that part named', { ...PACK_LEVELS, 'keep.lvl': OTHER },
    { ...PACK, 'a.mrg': MERGE }, /^a\.mrg: keep\.lvl is not the level this merge file was made for/],
  ['a pack in already', PACKED, PACK, /^The pack a\.mrg is in already/],
  ['a part whose level is missing', { 'keep.lvl': LEVEL, 'town.lvl': OTHER }, PACK,
    /^b\.mrg: File maps\/fort\.lvl not found\./],
];

// The page's job on the folder `files` with the merge files `merges`.
async function packInPage(files, merges, at = page) {
  const id = await putFolder(at, files);
  const { lines, ok } = await at.evaluate(([id, merges]) => window.vorandel.applyToFolder(
    window.testFolders[id], Object.entries(merges).map(([name, bytes]) =>
      new File([Uint8Array.from(bytes)], name))), [id, Object.fromEntries(Object.entries(merges)
    .map(([name, bytes]) => [name, [...bytes]]))]);
  return { lines, ok, after: await readFolder(at, id) };
}

test('a pack of merge files, as mrgtool apply puts it in', async (t) => {
  for (const [name, files, merges, expected] of PACK_CASES) {
    await t.test(name, async () => {
      const got = await packInPage(files, merges);
      const dir = folder({ ...files, ...merges });
      assertSame(got, tool('mrgtool', dir, 'apply', ...Object.keys(merges)));
      assert.match(got.lines.join('\n'), new RegExp(expected.source, 'm'));
      assert.deepEqual(timeless(got.after), timeless(withoutMerges(filesOf(dir))));
    });
  }
  await t.test('two merge files for one level: refused in the page\'s words', async () => {
    const got = await packInPage(PACK_LEVELS, { 'a.mrg': MOD_A, 'b.mrg': MOD_B });
    assert.deepEqual(got, { ok: false, after: PACK_LEVELS, lines: ['a.mrg and b.mrg both change '
      + 'keep.lvl: the page puts in one merge file a level. Use mrgtool apply, which puts them in '
      + 'one after the other.'] });
  });
  // Stopped once the first level is written, the others marked: Vorandel on
  // one part puts every level back, then merges it; the page refuses.
  await t.test('a page stopped midway', async () => {
    const { left, stopped } = await runStopped(PACK_LEVELS, ['mrgtool', 'apply', ...Object.keys(PACK)],
      PACK, 15);
    assert.ok(stopped && left['keep.lvl.pack'] && left['town.lvl.merging']);
    const dir = folder({ ...left, 'c.mrg': PACK['c.mrg'] });
    assert.match(tool('Vorandel', dir, 'c.mrg').text, /^A run on the pack a\.mrg was stopped midway/m);
    const levelsOf = (files) => Object.fromEntries(Object.entries(timeless(files))
      .filter(([name]) => !/\.(bak|mrg)$/.test(name)));
    assert.deepEqual(levelsOf(filesOf(dir)), levelsOf(ran({ ...PACK_LEVELS, 'c.mrg': PACK['c.mrg'] },
      'Vorandel', 'c.mrg')));
    const got = await packInPage(left, { 'c.mrg': PACK['c.mrg'] });
    assert.equal(got.ok, false);
    assert.match(got.lines[0], /^town\.lvl\.merging belongs to a pack .* as keep\.lvl\.pack tells/);
    assert.deepEqual(got.after, left);
  });
  // Without a folder: the levels chosen, matched by name; one download a level.
  await t.test('three levels downloaded', async () => {
    const levels = { 'keep.lvl': LEVEL, 'fort.lvl': LEVEL, 'town.lvl': OTHER };
    const dir = folder({ ...PACK_LEVELS, ...PACK });
    const reference = tool('mrgtool', dir, 'apply', ...Object.keys(PACK));
    const downloads = [];
    page.on('download', (download) => downloads.push(download));
    const got = await page.evaluate(([levels, merges]) => {
      const files = (named) => Object.entries(named).map(([name, bytes]) => new File([Uint8Array.from(bytes)], name));
      return window.vorandel.applyToDownload(files(levels), files(merges));
    }, [levels, PACK].map((named) => Object.fromEntries(Object.entries(named).map(([n, b]) => [n, [...b]]))));
    const note = 'Put all 3 downloaded levels in place of the ones you chose, together: the pack works '
      + 'only whole. Keep the levels you chose: they are your backups.';
    assertSame(got, { ...reference, lines: [...reference.lines.filter((line) => !/^Backuping/.test(line)), note] });
    while (downloads.length < 3) await new Promise((resolve) => setTimeout(resolve, 20));
    page.removeAllListeners('download');
    for (const download of downloads)
      assert.deepEqual(fs.readFileSync(await download.path()), filesOf(dir)[{ 'fort.lvl': 'maps/fort.lvl' }[
        download.suggestedFilename()] ?? download.suggestedFilename()]);
  });
});

// Memory running out in the library, and a fault of the library, each said
// truthfully: the worker's library is made to run out of memory, or to read
// outside its memory, in the middle of a Show.
const FAULTS = [
  ['memory runs out', /^The page ran out of memory for this job/,
    (x) => (...args) => {
      for (let size = 2 ** 30; size >= 1; size /= 2) while (x.web_alloc(size));
      return x.web_show(...args);
    }],
  ['the library reads outside its memory',
    /^The page stopped this job on a fault of its own, not for lack of memory \(RuntimeError: memory access out of bounds\)/,
    (x) => (merge, ...args) => x.web_show(2 ** 32 - 16, ...args)],
];

test('a failed job says whether memory ran out', async (t) => {
  const [worker] = page.workers();
  const dir = folder({ 'keep.mrg': MERGE });
  await page.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
  for (const [name, expected, sabotage] of FAULTS) {
    await t.test(name, async () => {
      await worker.evaluate((sabotage) => {
        const { instantiate } = WebAssembly;
        self.restore = () => { WebAssembly.instantiate = instantiate; };
        WebAssembly.instantiate = async (...args) => {
          const { exports } = await instantiate(...args);
          return { exports: { ...exports, web_show: eval(sabotage)(exports) } };
        };
      }, sabotage.toString());
      const said = await logOf('#show');
      await worker.evaluate(() => self.restore());
      assert.equal(said.lines.length, 1);
      assert.match(said.lines[0], expected);
      assert.equal(said.ok, false);
      assert.ok(await page.isHidden('#show-panel'));
      assert.deepEqual(await logOf('#show'), { lines: [], ok: true }); // the next job runs
    });
  }
});

// mrgtool make on the same files is the reference: its lines, standard error
// included, and its merge file. A default name is asked for in the Level
// name field, where mrgtool asks for --name.
const MAKE_CASES = [
  ['the example', 'keep.lvl', '', 'keep.mrg'],
  ['a refused name', 'keep.lvl', 'maps\\..\\..\\keep.lvl', 'keep.mrg'],
  ['a name with control bytes', 'keep.lvl', '\x1b]0;title\x07\x1b[2J', 'x.mrg'],
  ['a name outside plain ASCII', 'keep.lvl', 'château.lvl', 'château.mrg'],
  ['a refused default name', 'NUL.lvl', '', 'NUL.mrg'],
  ['a name that leaves no room for the record', 'keep.lvl', 'n'.repeat(78), `${'n'.repeat(78)}.mrg`],
];

test('make: mrgtool make\'s lines and merge file, which Vorandel applies', async (t) => {
  for (const [name, original, levelName, out] of MAKE_CASES) {
    await t.test(name, async () => {
      const dir = folder({ [original]: LEVEL, 'keep-modded.lvl': MODDED });
      await page.setInputFiles('#make-original', path.join(dir, original));
      await page.setInputFiles('#make-modified', path.join(dir, 'keep-modded.lvl'));
      await page.fill('#make-name', levelName);
      const { text, status } = tool('mrgtool', dir, 'make', original, 'keep-modded.lvl', '-o', out,
        ...(levelName ? ['--name', levelName] : []));
      const reference = lines(text.replace('with --name', 'in the Level name field'));
      const made = fs.existsSync(path.join(dir, out));
      const [download, said] = await Promise.all([made && page.waitForEvent('download'), logOf('#make')]);
      assertSame(said, { lines: reference, status });
      if (!made) return;
      assert.equal(download.suggestedFilename(), out);
      assert.deepEqual(fs.readFileSync(await download.path()), fs.readFileSync(path.join(dir, out)));
      if (levelName) return;
      assert.equal(tool('Vorandel', dir, out).lines.at(-1), 'Done !');
      assert.deepEqual(fs.readFileSync(path.join(dir, 'keep.lvl')), MODDED);
    });
  }
  await page.fill('#make-name', '');
});

// mrgtool check on the same files is the reference, but for the page's limit.
const CHECK_CASES = [
  ['the example', MERGE, LEVEL],
  ['an action past the end', BEHIND, LEVEL],
  ['a truncated record', UNRECORDED.subarray(0, 40), LEVEL],
  ['an invalid name', Buffer.from([200, 0, 0, 0, 65]), LEVEL],
  ['a name unsafe on Windows only', mergeFile('maps/NUL.lvl'), LEVEL],
  ['the example, on the level it makes', MERGE, MERGED],
  ['the example, on another version', MERGE, OTHER],
  ['the example without its record, on the level it makes', UNRECORDED, MERGED],
  ['a damaged record', mergeFile('keep.lvl', [[0, 1]], '\x7fVLR\x01\x32'), LEVEL],
  ['a merge file gone since it was picked', GONE, LEVEL],
  // The page's refusal, where mrgtool would read the level: a failure.
  ['a level over 1 GiB', MERGE, 2 ** 30 + 1, { lines:
    ['keep.lvl: the page takes files of up to 1 GiB; the command-line mrgtool takes larger ones.'],
  status: 1 }],
];

// From disk, in a browser without --allow-file-access-from-files too.
test('check', async (t) => {
  for (const [name, merge, level, expected] of CHECK_CASES) {
    for (const [where, at] of [['served', page], ['from disk', diskPage]]) {
      await t.test(`${name}, ${where}`, async () => {
        const dir = folder({ 'keep.mrg': merge === GONE ? MERGE : merge,
          'keep.lvl': typeof level === 'number' ? '' : level });
        if (typeof level === 'number') fs.truncateSync(path.join(dir, 'keep.lvl'), level);
        await at.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
        await at.setInputFiles('#check-level', path.join(dir, 'keep.lvl'));
        if (merge === GONE) {
          await at.evaluate(() => document.getElementById('check-merge').files[0].size);
          fs.rmSync(path.join(dir, 'keep.mrg'));
        }
        assertSame(await logOf('#check', at),
          expected ?? tool('mrgtool', dir, 'check', 'keep.mrg', 'keep.lvl'), 'check');
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

// mrgtool show on the same file is the reference: its table, or its error.
// The example comes last, for the picture.
const SHOW_CASES = [
  ['no actions', mergeFile('keep.lvl')],
  ['a truncated record', UNRECORDED.subarray(0, 40)],
  ['a name unsafe on Windows only', mergeFile('a:b.lvl', [[0, 1]])],
  ['a name with control bytes', mergeFile('\x1b]0;title\x07\x1b[2J', [[0, 1]])],
  ['the example', MERGE],
];

test('show: mrgtool show\'s table and the picture, with the pointer and the keys', async (t) => {
  for (const [name, merge] of SHOW_CASES) {
    await t.test(name, async () => {
      const dir = folder({ 'keep.mrg': merge });
      await page.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
      const said = await logOf('#show');
      const reference = spawnSync(path.resolve(options.tools, 'mrgtool'), ['show', 'keep.mrg'], { cwd: dir });
      assert.equal(said.ok, endsWell(reference.status));
      if (reference.status === 0) assert.equal(await page.textContent('#show-table'), decode(reference.stdout));
      else assert.deepEqual(said.lines, lines(decode(reference.stderr)));
    });
  }
  // The third action of the example, at level offset 69 of the 82 the actions reach.
  const bar = await page.locator('#show-bar').boundingBox();
  await page.mouse.move(bar.x + (bar.width * 69.5) / 82, bar.y + 20);
  assert.match(await page.textContent('#show-row'), /\n +102 +69 +1 +1 +2e +\|\.\|$/);
  // From the keyboard: the arrows go from action to action, End to the last.
  const rows = lines(await page.textContent('#show-table')).slice(-4);
  await page.focus('#show-bar');
  for (const [key, index] of [['ArrowRight', 3], ['ArrowLeft', 2], ['Home', 0], ['End', 3]]) {
    await page.keyboard.press(key);
    assert.equal(lines(await page.textContent('#show-row'))[1], rows[index], key);
    assert.match(await page.getAttribute('#show-bar', 'aria-valuetext'), new RegExp(`^Action ${index + 1} of 4, `));
  }
});

// At 1280×900, from the page's end, a job's result is in view when it ends;
// the progress bar shows for a job over about a second (here, one whose
// library takes 1.5 s to start), never for a quick one.
test('the result comes into view; the progress bar for slow jobs only', async (t) => {
  const at = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  await at.goto(page.url());
  await at.waitForFunction(() => window.vorandel);
  while (at.workers().length === 0) await new Promise((resolve) => setTimeout(resolve, 50));
  const dir = folder({ 'keep.mrg': MERGE, 'keep.lvl': LEVEL });
  await at.setInputFiles('#check-merge', path.join(dir, 'keep.mrg'));
  await at.setInputFiles('#check-level', path.join(dir, 'keep.lvl'));
  for (const [name, delay, shown] of [['a quick job', 0, false], ['a slow job', 1500, true]]) {
    await t.test(name, async () => {
      await at.evaluate(() => {
        window.scrollTo(0, document.body.scrollHeight);
        window.progressShown = false;
        new MutationObserver(() => {
          window.progressShown ||= getComputedStyle(document.getElementById('status')).visibility === 'visible';
        }).observe(document.body, { attributes: true });
      });
      await at.workers()[0].evaluate((delay) => {
        const { instantiate } = WebAssembly;
        WebAssembly.instantiate = async (...args) => {
          WebAssembly.instantiate = instantiate;
          await new Promise((resolve) => setTimeout(resolve, delay));
          return instantiate(...args);
        };
      }, delay);
      assertSame(await logOf('#check', at), tool('mrgtool', dir, 'check', 'keep.mrg', 'keep.lvl'), 'check');
      assert.equal(await at.evaluate(() => window.progressShown), shown);
      assert.ok(await at.isHidden('#status'));
      const last = await at.locator('#log > div').last().boundingBox();
      assert.ok(last.y >= 0 && last.y + last.height <= 900, `the result at ${last.y}`);
    });
  }
  await at.close();
});

// axe-core's audit of the page, served and opened from disk, before and after
// a Show (served, with a level's mods listed): no violation at all.
// Screenshots of each are left to look at.
test('accessibility: axe finds nothing, before and after a Show', async (t) => {
  const axe = path.join(path.dirname(new URL(import.meta.url).pathname), 'node_modules/axe-core/axe.min.js');
  fs.mkdirSync(options.results, { recursive: true });
  for (const [where, url] of [['served', page.url()], ['from disk', diskPage.url()]]) {
    await t.test(where, async () => {
      const audited = await browser.newPage({ viewport: { width: 1100, height: 900 } });
      await audited.goto(url);
      await audited.waitForFunction(() => window.vorandel);
      for (const moment of ['before', 'after']) {
        // Served, a level's mods listed with their buttons.
        if (moment === 'after' && where === 'served') {
          await asDataFolder(WITH_AB, audited);
          await audited.fill('#mods-level', 'keep.lvl');
          await logOf('#list-mods', audited);
        }
        // A refused merge file first, for a failed line in the log.
        for (const merge of moment === 'after' ? [UNRECORDED.subarray(0, 40), MERGE] : []) {
          await audited.setInputFiles('#check-merge', path.join(folder({ 'keep.mrg': merge }), 'keep.mrg'));
          await logOf('#show', audited);
        }
        await audited.addScriptTag({ path: axe });
        const { violations } = await audited.evaluate(() => window.axe.run());
        assert.deepEqual(violations.map((v) => `${v.impact} ${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`), []);
        await audited.screenshot({ path: path.join(options.results,
          `${where.replace(/ /g, '-')}-${moment}-show.png`), fullPage: true });
      }
      await audited.close();
    });
  }
});
