// The benchmark's browser line: the page applies S2 (256 MiB level, 1,000,000
// actions) to an origin-private folder in headless Chromium, driven as in the
// web suite, alternating with the command-line Vorandel on the same files;
// medians of the runs. Then the page's weight: every file it loaded.
//
//   node bench/web_bench.mjs [--runs 5] [--seed 1] [--page build/web]
//        [--tool build/release/Vorandel] [--scratch build/bench]
//
// Needs the page built (cmake --workflow --preset web, or its build steps),
// the release tool, and playwright-core (npm ci --prefix tests/web).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { chromium } from '../tests/web/node_modules/playwright-core/index.mjs';

const { values: options } = parseArgs({
  options: {
    runs: { type: 'string', default: '5' }, seed: { type: 'string', default: '1' },
    page: { type: 'string', default: 'build/web' },
    tool: { type: 'string', default: 'build/release/Vorandel' },
    scratch: { type: 'string', default: 'build/bench' },
  },
});
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const [original, merge, expected, levelName] = execFileSync('python3',
  ['bench/scenarios.py', 'S2', options.seed, path.join(options.scratch, 'inputs')])
  .toString().trim().split('\n').map((line, i) => (i < 3 ? path.resolve(line) : line));
const work = path.resolve(options.scratch, 'web');
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(path.join(work, 'cli'), { recursive: true });

// The command line: a fresh copy of the level each run, on the disk before the clock starts.
function runTool() {
  const level = path.join(work, 'cli', levelName);
  fs.copyFileSync(original, level);
  execFileSync('sync');
  const start = performance.now();
  const said = execFileSync(path.resolve(options.tool), [merge], { cwd: path.join(work, 'cli') });
  const seconds = (performance.now() - start) / 1000;
  if (!said.toString().endsWith('Done !\n')) throw new Error(`the tool said ${said}`);
  execFileSync('cmp', [level, expected]);
  return seconds;
}

// The page's server logs each request: the page's weight is what it served.
const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1',
  '--directory', options.page, '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
const served = new Set();
server.stderr.on('data', (data) => {
  for (const [, file] of String(data).matchAll(/"GET (\/[^ ?]*)\S* HTTP[^"]*" (?:200|304)/g))
    served.add(file === '/' ? 'index.html' : file.slice(1));
});
const port = await new Promise((resolve) => server.stdout.on('data',
  (data) => /port (\d+)/.test(data) && resolve(/port (\d+)/.exec(data)[1])));
const context = await chromium.launchPersistentContext(path.join(work, 'profile'), {
  executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu', '--disable-quic',
    '--no-first-run', '--disable-background-networking', '--disable-component-update',
    '--disable-sync'] });
const page = await context.newPage();
await page.goto(`http://127.0.0.1:${port}/`);
await page.waitForFunction(() => window.vorandel);
await page.evaluate(() => document.body.append(Object.assign(document.createElement('input'),
  { type: 'file', id: 'bench', multiple: true })));
await page.setInputFiles('#bench', [original, merge, expected]);

// The page: the level copied into the folder before the clock starts; the
// result compared with the expected level after the first run.
async function runPage(compare) {
  return page.evaluate(async ([levelName, compare]) => {
    const [original, merge, expected] = document.getElementById('bench').files;
    const root = await navigator.storage.getDirectory();
    await root.removeEntry('s2', { recursive: true }).catch(() => {});
    const folder = await root.getDirectoryHandle('s2', { create: true });
    const level = await folder.getFileHandle(levelName, { create: true });
    const writable = await level.createWritable();
    await writable.write(original);
    await writable.close();
    const start = performance.now();
    const { ok, lines } = await window.vorandel.applyToFolder(folder, merge);
    const seconds = (performance.now() - start) / 1000;
    if (!ok) throw new Error(lines.join('\n'));
    const result = await level.getFile();
    for (let at = 0; compare && at < expected.size; at += 2 ** 24) {
      const part = (file) => file.slice(at, at + 2 ** 24).arrayBuffer().then((b) => new Uint8Array(b));
      const [got, want] = await Promise.all([part(result), part(expected)]);
      if (result.size !== expected.size || got.some((byte, i) => byte !== want[i]))
        throw new Error('the page\'s result differs from the expected level');
    }
    return seconds;
  }, [levelName, compare]);
}

const tool = [];
const browser = [];
const runs = Number(options.runs);
console.log(`Browser line: S2 (256 MiB level, 1,000,000 small actions), Chromium ${context.browser()?.version() ?? ''} headless, an origin-private folder`);
for (let i = 0; i < runs; i++) {
  tool.push(runTool());
  browser.push(await runPage(i === 0));
  console.log(`  run ${i + 1}: tool ${tool.at(-1).toFixed(3)} s  page ${browser.at(-1).toFixed(3)} s`);
}
const ratio = median(browser) / median(tool);
console.log(`  median of ${runs}: tool ${median(tool).toFixed(3)} s, page ${median(browser).toFixed(3)} s: `
  + `${ratio.toFixed(2)} times the tool's (goal: at most 3)`);

let total = 0;
const weights = [...served].sort().map((file) => {
  const size = fs.statSync(path.join(options.page, file)).size;
  total += size;
  return `${file} ${size}`;
});
console.log(`Page weight: ${weights.join(', ')}: ${total} bytes, `
  + `${(total / 1024).toFixed(1)} KiB (goal: at most 300 KiB)`);
await context.close();
server.kill();
fs.rmSync(work, { recursive: true, force: true });
