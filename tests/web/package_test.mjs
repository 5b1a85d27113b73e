// The players' packages as a player meets them: each unpacked in a fresh
// folder; its texts read as plain text; the native programs static; mrgtool
// and Vorandel run on the example, Vorandel.exe and mrgtool.exe under Wine;
// vorandel.html opened from disk in headless Chromium applying the example to
// an origin-private folder and making a merge file. Same bytes everywhere.
//
// Run: node package_test.mjs --dist build/package/dist --windows W.zip --native N.tar.gz
//        --version 1.2.0 --chromium /usr/bin/chromium --wine /usr/bin/wine
//        --readelf readelf --objdump objdump --scratch DIR
// Exits with 77 (skipped) where Wine, Chromium or playwright-core is missing.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { parseArgs } from 'node:util';

const { values: o } = parseArgs({ options: Object.fromEntries(['dist', 'windows', 'native',
  'version', 'chromium', 'wine', 'readelf', 'objdump', 'scratch'].map((name) => [name, { type: 'string' }])) });
const skip = (why) => {
  console.log(`skipped: ${why}`);
  process.exit(77);
};
for (const tool of [o.wine, o.chromium]) if (!fs.existsSync(tool)) skip(`${tool} is missing`);
const { launch, applyInPage } = await import('./browser.mjs')
  .catch(() => skip('playwright-core is missing: run npm ci --prefix tests/web'));

const LEVEL = fs.readFileSync(new URL('../../examples/keep.lvl', import.meta.url));
const MERGE = fs.readFileSync(new URL('../../examples/keep.mrg', import.meta.url));
const FILES = ['CHANGELOG.txt', 'LICENSE.txt', 'README.txt', 'docs/format.txt', 'docs/messages.txt',
  'docs/mrgtool.txt', 'docs/safety.txt', 'example/keep.lvl', 'example/keep.mrg', 'vorandel.html'];
const top = (name) => path.join(o.scratch, name, name.replace(/\.(zip|tar\.gz)$/, ''));
const env = { ...process.env, WINEPREFIX: path.join(o.scratch, '..', 'wine'), WINEDEBUG: '-all' };
let browser;

// A program's status and output lines, its output through a file: what Wine
// leaves running must hold no pipe of ours.
function run(dir, ...command) {
  if (command[0].endsWith('.exe')) command.unshift(o.wine);
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
  for (const [name, vorandel, mrgtool] of PACKAGES) {
    const files = fs.readdirSync(top(name), { recursive: true })
      .filter((file) => fs.statSync(path.join(top(name), file)).isFile()).sort();
    assert.deepEqual(files, [...FILES, vorandel, mrgtool].sort(), name);
  }
});

// The files a text names, as paths from a package's top: from the text's
// folder; from a package's top where the path goes through it
// (C:\Tools\vorandel-...\); through .. from example/, where the README's
// commands run. The README's programs too, named by a path; and any path
// into the source's folders.
function named(text, folder, programs) {
  const name = programs ? /((?:[\w~:.-]+[\\/])*)([\w.-]+\.(?:txt|md|html|exe)\b|(?<=[\\/])(?:Vorandel|mrgtool)\b)/g
    : /((?:[\w~:.-]+[\\/])*)([\w.-]+\.(?:txt|md)\b)/g;
  const source = [...text.matchAll(/(?<![\w.~\\/-])(?:\.ci|bench|build|cmake|examples|src|tests)\/[\w./-]*/g)];
  return source.map(([path]) => path).concat([...text.matchAll(name)].map(([, lead, file]) => {
    const parts = lead.replace(/\\/g, '/').split('/').filter(Boolean);
    const through = parts.findIndex((part) => part.startsWith('vorandel-'));
    if (through >= 0) return path.posix.join(...parts.slice(through + 1), file);
    return path.posix.join(folder === '' && parts[0] === '..' ? 'example' : folder, ...parts, file);
  }));
}

test('the texts are plain, within 80 columns, with the package line ends, naming only packaged files', () => {
  for (const [name, , , newline] of PACKAGES) {
    for (const text of FILES.filter((file) => file.endsWith('.txt'))) {
      const content = fs.readFileSync(path.join(top(name), text), 'utf8');
      const where = `${name}: ${text}`;
      assert.ok(content.match(/\r?\n/g).every((end) => end === newline), `${where}'s line ends`);
      content.split(newline).forEach((line, at) =>
        assert.ok([...line].length <= 80, `${where}:${at + 1} is ${[...line].length} columns wide`));
      assert.doesNotMatch(content, /\|\s*:?-{3,}|^\s*\|.*\|\s*$|\]\(|^#+ /m, `${where} holds Markdown`);
      for (const file of named(content, path.posix.dirname(text).replace(/^\.$/, ''), text === 'README.txt')) {
        assert.ok(PACKAGES.some(([other]) => fs.existsSync(path.join(top(other), file))),
          `${where} names ${file}, which no package holds`);
      }
    }
  }
});

test('the native programs are static: no library needed, no C library version asked for', () => {
  for (const program of PACKAGES[1].slice(1, 3).map((file) => path.join(top(o.native), file))) {
    const dynamic = execFileSync(o.readelf, ['-d', program], { encoding: 'utf8' });
    assert.doesNotMatch(dynamic, /\(NEEDED\)/, program);
    // A static program may have no dynamic symbol table at all.
    const symbols = spawnSync(o.objdump, ['-T', program], { encoding: 'utf8' });
    assert.doesNotMatch(symbols.stdout, /GLIBC_/, program);
    // The oldest kernel it starts on, which the README names.
    assert.match(execFileSync(o.readelf, ['-n', program], { encoding: 'utf8' }), /OS: Linux, ABI: 3\.2\.0$/m, program);
  }
});

test('mrgtool and Vorandel, run as the README says in example/, do alike under Wine and natively', () => {
  const [windows, native] = PACKAGES.map(([name, vorandel, mrgtool]) => {
    const example = path.join(top(name), 'example');
    const said = [['--version'], ['check', 'keep.mrg']].map((args) => run(example, `../${mrgtool}`, ...args));
    said.push(run(example, `../${vorandel}`, 'keep.mrg'));
    return { said, level: fs.readFileSync(path.join(example, 'keep.lvl')),
      backup: fs.readFileSync(path.join(example, 'keep.lvl.bak')) };
  });
  assert.deepEqual(windows, native);
  assert.deepEqual(native.said.map(({ status, lines }) => [status, lines]), [
    [0, [`mrgtool ${o.version}`]],
    [0, ['keep.mrg applies to keep.lvl: 4 actions, nothing wrong found.', 'The level would have 102 bytes (now 97, +5).']],
    [0, ['Backuping keep.lvl to keep.lvl.bak', 'Processing level: keep.lvl', 'Done !']]]);
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
  const { 'keep.lvl.history': history, ...merged } = got.after;
  assert.deepEqual(merged, { 'keep.lvl': fs.readFileSync(path.join(dir, 'modded.lvl')), 'keep.lvl.bak': LEVEL });
  assert.ok(history, 'the level\'s history beside it');
  assert.deepEqual(got.lines, ['Backuping keep.lvl to keep.lvl.bak', 'Processing level: keep.lvl', 'Done !']);
  // The merge file made of the example's level and the one merged above.
  await page.setInputFiles('#make-original', path.join(dir, 'keep.lvl'));
  await page.setInputFiles('#make-modified', path.join(dir, 'modded.lvl'));
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#make')]);
  await download.saveAs(path.join(dir, 'keep.mrg'));
  assert.equal(run(dir, path.join(top(o.native), 'Vorandel'), 'keep.mrg').status, 0);
  assert.deepEqual(fs.readFileSync(path.join(dir, 'keep.lvl')), fs.readFileSync(path.join(dir, 'modded.lvl')));
});
