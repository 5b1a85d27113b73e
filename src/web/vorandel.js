'use strict';
// Vorandel in the browser. This one script is the page's module, which draws
// the forms and the log, and, started again as a worker, the worker that does
// the jobs with the merge file library compiled to WebAssembly
// (mergefile.wasm), so that the page stays responsive while a large level is
// merged.
//
// Served as files, index.html loads this script, and the worker finds
// mergefile.wasm beside it. vorandel.html, the page in one file, holds this
// script inline and the WebAssembly below in base64 (inline_page.mjs writes
// it), and starts the worker from the script's own text: a page opened from
// disk may load no other file. The worker is a classic one, which a page
// opened from disk may start from a Blob URL where a module worker is
// refused: this script uses nothing that only a module may (import.meta).
const WASM_BASE64 = '';

const FILE_MAX = 2 ** 30; // the page's limit; Vorandel's own is 4 GiB - 2 bytes
const CHUNK = 2 ** 26; // bytes read at a time, between progress reports
const ROWS_MAX = 10000; // rows of show's table put in the page

// ---- The worker ---------------------------------------------------------------

// A failed job: the lines say why, in Vorandel's words where Vorandel has them.
class Failure extends Error {
  constructor(...lines) {
    super(lines[0]);
    this.lines = lines;
  }
}

// Windows error numbers for the browser's DOMException names, so that a
// message reads as Vorandel's would on Windows. The file system's own cause
// (disk full, file held) is hidden behind these names.
const WINDOWS_ERRORS = {
  NotFoundError: 2, // file not found (3 for a folder in the path, see folderOf)
  TypeMismatchError: 5, // a folder where a file should be: access denied
  NotAllowedError: 5, // no permission
  SecurityError: 5,
  NoModificationAllowedError: 32, // held by another writer
  QuotaExceededError: 112, // the disk is full
};
const windowsError = (error) => error.windowsError ?? WINDOWS_ERRORS[error.name] ?? 31;

// Names are bytes to the tools: UTF-8 where they are, else Windows' own code page.
function decode(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder('windows-1252').decode(bytes);
  }
}

// One job's instance of the library: a fresh memory each time, given back
// to the system when the job ends.
class Library {
  static async start(module, onProgress) {
    const { exports } = await WebAssembly.instantiate(module, {
      env: { emscripten_notify_memory_growth() {}, web_progress: onProgress },
      wasi_snapshot_preview1: {
        proc_exit() {
          throw new Failure('Not enough memory for this job (error 8).');
        },
      },
    });
    exports._initialize();
    return Object.assign(new Library(), { x: exports });
  }

  // A new view each time: growing the memory detaches the old one.
  get memory() {
    return new Uint8Array(this.x.memory.buffer);
  }

  alloc(size) {
    return this.x.web_alloc(size) >>> 0;
  }

  string(value) {
    const bytes = new TextEncoder().encode(`${value}\0`);
    const at = this.alloc(bytes.length);
    this.memory.set(bytes, at);
    return at;
  }

  view(at, size) {
    return this.memory.subarray(at, at + size);
  }

  text() {
    return decode(this.view(this.x.web_text() >>> 0, this.x.web_text_size() >>> 0));
  }

  bytes() {
    return this.view(this.x.web_bytes() >>> 0, this.x.web_bytes_size() >>> 0).slice();
  }
}

// MergeVerdict and MakeOutcome of the library.
const VERDICT_OK = 0;
const MAKE_FILE_TOO_LARGE = 1;
const MAKE_NOT_REPRODUCED = 2;

// The library's bytes, inlined or fetched, compiled from bytes: a server need
// not know WebAssembly's media type.
async function compileLibrary() {
  if (typeof WebAssembly === 'undefined') throw new Error('this browser has no WebAssembly');
  if (WASM_BASE64) return WebAssembly.compile(Uint8Array.from(atob(WASM_BASE64), (c) => c.charCodeAt(0)));
  const response = await fetch(new URL('mergefile.wasm', location.href));
  if (!response.ok) throw new Error(`mergefile.wasm: HTTP ${response.status}`);
  return WebAssembly.compile(await response.arrayBuffer());
}

function startWorker() {
  const module = compileLibrary();
  const post = (message, transfer = []) => postMessage(message, transfer);
  // The page says in words when the library can't be had.
  module.then(() => post({ ready: true }), (error) => post({ broken: `${error.message ?? error}` }));
  const say = (line) => post({ line });
  const progress = (label, done, total) => post({ progress: { label, done, total } });
  const jobs = { applyToFolder, applyToDownload, make, check, show };

  onmessage = async ({ data: { job, args } }) => {
    let shown = -1;
    const diffProgress = (done, total) => {
      const percent = Math.floor((100 * done) / total);
      if (percent !== shown) progress('comparing', done, total);
      shown = percent;
    };
    try {
      const lib = await Library.start(await module, diffProgress);
      await jobs[job]({ lib, say, post, progress }, ...args);
      post({ end: true });
    } catch (error) {
      for (const line of error.lines ?? [`The page failed: ${error}`]) post({ line, failed: true });
      post({ end: false });
    }
  };
}

// Reads a file into the library's memory, with Vorandel's messages for what
// goes wrong.
async function load({ lib, progress }, file, name) {
  refuseTooLarge(file, name);
  const at = lib.alloc(file.size);
  if (at === 0) throw new Failure("Can't read the data (error 8).");
  try {
    for (let done = 0; done < file.size; done += CHUNK) {
      const chunk = await file.slice(done, done + CHUNK).arrayBuffer();
      lib.memory.set(new Uint8Array(chunk), at + done);
      progress(`reading ${name}`, done + chunk.byteLength, file.size);
    }
  } catch (error) {
    throw new Failure(
      error.name === 'NotFoundError'
        ? `File ${name} not found.`
        : `Can't read the data (error ${windowsError(error)}).`,
    );
  }
  return at;
}

function refuseTooLarge(file, name) {
  if (file.size > FILE_MAX)
    throw new Failure(
      `File ${name} is too large.`,
      'The page takes files of up to 1 GiB; the command-line Vorandel takes larger ones.',
    );
}

// The level name, after Vorandel's checks on it.
function levelName(lib, merge, size) {
  if (lib.x.web_check_name(merge, size) !== VERDICT_OK) throw new Failure(lib.text());
  return lib.text();
}

// The merged level in the library's memory, after every action was checked.
function mergedLevel(lib, merge, mergeSize, level, levelSize, writeFailed) {
  if (!lib.x.web_check_actions(merge, mergeSize, levelSize)) throw new Failure(lib.text());
  const size = lib.x.web_number();
  const out = lib.alloc(size);
  if (out === 0) throw writeFailed({ windowsError: 8 });
  lib.x.web_apply(merge, mergeSize, level, levelSize, out);
  return lib.view(out, size);
}

// The folder and file name a level path leads to inside `root`. Both '\' and
// '/' separate, as on Windows; empty and '.' components stay in place.
async function folderOf(root, path) {
  const parts = path.split(/[\\/]/).filter((part) => part !== '' && part !== '.');
  if (parts.length === 0) throw new DOMException(path, 'TypeMismatchError');
  let folder = root;
  for (const part of parts.slice(0, -1)) {
    try {
      folder = await folder.getDirectoryHandle(part);
    } catch (error) {
      // A folder in the path that is missing or a file: error 3, as on Windows.
      const missing = ['NotFoundError', 'TypeMismatchError'].includes(error.name);
      throw missing ? { name: error.name, windowsError: 3 } : error;
    }
  }
  return { folder, name: parts.at(-1) };
}

// The whole file at once: the browser writes a new file beside the old one
// and puts it in its place on close, so a failure leaves the old file as it was.
async function writeWhole(handle, bytes) {
  const writable = await handle.createWritable();
  try {
    await writable.write(bytes);
    await writable.close();
  } catch (error) {
    await writable.abort().catch(() => {});
    throw error;
  }
}

// MarkMessage of the library: what Vorandel says of a mark left by a run
// that was stopped while it rewrote the level.
const MARK = { RESTORED: 0, RESTORE_FAILED: 1, BACKUP_UNREADABLE: 2, MARK_UNREADABLE: 4,
  MARK_KEPT: 6 };

// Vorandel's first step: where a run was stopped while it rewrote the level,
// its mark stands beside the level, and the level is put back from the
// backup the mark describes, or nothing is touched. The page itself writes
// the level whole and leaves no mark.
async function restoreIfMarked(job, root, merge, name) {
  const { lib, say } = job;
  const markSays = (message, error = 0) => {
    lib.x.web_mark_message(merge, message, error);
    return lib.text();
  };
  let place, markFile, backupFile;
  try {
    place = await folderOf(root, name);
  } catch {
    return; // no folder, no mark: the backup copy says what is wrong
  }
  try {
    markFile = await (await place.folder.getFileHandle(`${place.name}.merging`)).getFile();
  } catch (error) {
    if (error.name === 'NotFoundError') return;
    throw new Failure(markSays(MARK.MARK_UNREADABLE, windowsError(error)));
  }
  const mark = new Uint8Array(await markFile.arrayBuffer());
  const markAt = lib.alloc(mark.length);
  lib.memory.set(mark, markAt);
  let backup;
  try {
    backupFile = await (await place.folder.getFileHandle(`${place.name}.bak`)).getFile();
    backup = await load(job, backupFile, `${name}.bak`);
  } catch (error) {
    throw error instanceof Failure ? error
      : new Failure(markSays(MARK.BACKUP_UNREADABLE, windowsError(error)));
  }
  const verdict = lib.x.web_read_mark(merge, markAt, mark.length, backup, backupFile.size);
  if (verdict !== MARK.RESTORED) throw new Failure(markSays(verdict));
  job.progress(`writing ${name}`, 0, 0);
  try {
    await writeWhole(await place.folder.getFileHandle(place.name, { create: true }), backupFile);
  } catch (error) {
    throw new Failure(markSays(MARK.RESTORE_FAILED, windowsError(error)));
  }
  try {
    await place.folder.removeEntry(`${place.name}.merging`);
  } catch (error) {
    say(markSays(MARK.RESTORED));
    throw new Failure(markSays(MARK.MARK_KEPT, windowsError(error)));
  }
  say(markSays(MARK.RESTORED));
}

// Vorandel's run, step by step, on a folder the player picked.
async function applyToFolder(job, root, mergeFile) {
  const { lib, say, progress } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  const name = levelName(lib, merge, mergeFile.size);
  await restoreIfMarked(job, root, merge, name);
  const backupName = `${name}.bak`;
  say(`Backuping ${name} to ${backupName}`);
  const copyFailed = (error) =>
    new Failure(`Can't copy the file ${name} to ${backupName} (error ${windowsError(error)})`);
  let place, handle, file;
  try {
    place = await folderOf(root, name);
    handle = await place.folder.getFileHandle(place.name);
    file = await handle.getFile();
  } catch (error) {
    throw copyFailed(error);
  }
  refuseTooLarge(file, name); // before any backup
  // The browser writes one file at a time, and slowly: the backup is written
  // from the level's own file while the level is read and merged, and the
  // level is written only once the backup is whole.
  progress(`writing ${backupName}`, 0, 0);
  const backedUp = place.folder
    .getFileHandle(`${place.name}.bak`, { create: true })
    .then((backup) => writeWhole(backup, file));
  const writeFailed = (error) =>
    new Failure(
      `Can't write the level ${name} (error ${windowsError(error)}); the level is unchanged.`,
    );
  const merged = load(job, file, name).then((level) =>
    mergedLevel(lib, merge, mergeFile.size, level, file.size, writeFailed),
  );
  merged.catch(() => {}); // reported in its turn, after the backup's outcome
  try {
    await backedUp;
  } catch (error) {
    throw copyFailed(error);
  }
  say(`Processing level: ${name}`);
  const level = await merged;
  progress(`writing ${name}`, 0, 0);
  try {
    await writeWhole(handle, level);
  } catch (error) {
    throw writeFailed(error);
  }
  say('Done !');
}

// Where the page can't write into a folder: the merged level is downloaded
// and the picked level, untouched, is the backup.
async function applyToDownload(job, levelFile, mergeFile) {
  const { lib, say, post } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  const name = levelName(lib, merge, mergeFile.size);
  say(`Processing level: ${name}`);
  const level = await load(job, levelFile, levelFile.name);
  const writeFailed = () => new Failure("Can't read the data (error 8).");
  const merged = mergedLevel(lib, merge, mergeFile.size, level, levelFile.size, writeFailed);
  const bytes = merged.slice();
  say('Done !');
  post({ download: { name: name.split(/[\\/]/).at(-1), bytes } }, [bytes.buffer]);
}

// mrgtool make, writing to a download instead of a file. The name is judged
// before the files are read, as mrgtool does.
async function make(job, original, modified, wantedName) {
  const { lib, say, post } = job;
  lib.x.web_default_name(lib.string(original.name));
  const name = wantedName || lib.text();
  if (lib.x.web_name_fault(lib.string(name)))
    throw new Failure(`Can't use the level name '${name}': ${lib.text()}` +
      `${wantedName ? '' : '; give one in the Level name field'}.`);
  const base = name.split(/[\\/]/).at(-1);
  const outName = `${base.includes('.') ? base.slice(0, base.lastIndexOf('.')) : base}.mrg`;
  const a = await load(job, original, original.name);
  const b = await load(job, modified, modified.name);
  job.progress('comparing', 0, 1);
  const outcome = lib.x.web_make(a, original.size, b, modified.size, lib.string(name),
    lib.string(outName));
  if (outcome === MAKE_FILE_TOO_LARGE)
    throw new Failure('The merge file would be too large for Vorandel (4 GiB - 1 byte or more).');
  if (outcome === MAKE_NOT_REPRODUCED)
    throw new Failure(`Internal error: the merge file made does not turn ${original.name} `
      + `into ${modified.name}; nothing written.`);
  const bytes = lib.bytes();
  say(lib.text().trimEnd());
  post({ download: { name: outName, bytes } }, [bytes.buffer]);
}

// mrgtool check: the name is judged before the level is read, as Vorandel does.
async function check(job, mergeFile, levelFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  levelName(lib, merge, mergeFile.size);
  const level = await load(job, levelFile, levelFile.name);
  const verdict = lib.x.web_check(merge, mergeFile.size, level, levelFile.size,
    lib.string(mergeFile.name), lib.string(levelFile.name));
  if (verdict !== VERDICT_OK) throw new Failure(lib.text());
  for (const line of lib.text().trimEnd().split('\n')) say(line);
}

// mrgtool show's table, and each action's place for the picture.
async function show(job, mergeFile) {
  const { lib, post } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  if (!lib.x.web_show(merge, mergeFile.size, lib.string(mergeFile.name)))
    throw new Failure(`${mergeFile.name}: ${lib.text()}`);
  const head = lib.text();
  const actions = new Uint32Array(lib.bytes().buffer);
  lib.x.web_show_rows(merge, mergeFile.size, ROWS_MAX);
  post({ show: { head, rows: lib.text(), actions } }, [actions.buffer]);
}

// ---- The page -----------------------------------------------------------------

// The worker runs this same script: the file beside the page, or, in
// vorandel.html, the inlined text through a Blob URL.
function newWorker() {
  const script = document.getElementById('vorandel-module');
  return new Worker(script.src
    || URL.createObjectURL(new Blob([script.textContent], { type: 'text/javascript' })));
}

function startPage() {
  const $ = (id) => document.getElementById(id);
  const canWriteFolders = 'showDirectoryPicker' in window;
  document.body.classList.add(canWriteFolders ? 'folders' : 'downloads');
  // Never silent: what can't work here is said at the top of the page.
  const tell = (text) => Object.assign($('notice'), { textContent: text, hidden: false });
  const unusable = (why) => {
    tell(`${why} Use the command-line Vorandel and mrgtool, or a current Chrome, Edge, Firefox `
      + 'or Safari.');
    for (const button of document.querySelectorAll('button')) button.disabled = true;
  };
  if (!canWriteFolders && !window.isSecureContext)
    $('no-folders').textContent = 'Served over plain HTTP from another machine, the page can\'t '
      + 'write into a folder: open vorandel.html from disk, or serve it over HTTPS, to do so.';
  let worker;
  try {
    worker = newWorker();
  } catch (error) {
    unusable(`This browser can't start the page's worker here (${error.message}), so nothing on `
      + 'the page can run.');
    worker = { postMessage() {} };
  }
  let ready = false;
  let running = null;

  function logLine(text, kind = '') {
    const line = document.createElement('div');
    line.className = kind;
    line.textContent = text;
    $('log').append(line);
    line.scrollIntoView({ block: 'nearest' });
    return line;
  }

  function download({ name, bytes }) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes]));
    link.download = name;
    link.textContent = `Download ${name} again`;
    logLine('', 'note').append(link);
    link.click();
  }

  worker.onmessage = ({ data }) => {
    if (data.ready) ready = true;
    if (data.broken !== undefined)
      unusable(`The page's WebAssembly can't be loaded (${data.broken}), so nothing on the page `
        + 'can run.');
    if (data.line !== undefined) {
      running.lines.push(data.line);
      logLine(data.line, data.failed ? 'failed' : '');
    }
    if (data.progress) {
      const { label, done, total } = data.progress;
      $('progress-label').textContent = label;
      if (total > 0) $('progress').value = done / total;
      else $('progress').removeAttribute('value');
    }
    if (data.download) download(data.download);
    if (data.show) drawShow(data.show);
    if (data.end !== undefined) finish(data.end);
  };
  worker.onerror = (event) => {
    if (!ready)
      unusable(`This browser can't run the page's worker here${event.message ? ` (${event.message})` : ''}, `
        + 'so nothing on the page can run.');
    logLine(`The page's worker failed: ${event.message}`, 'failed');
    if (running) finish(false);
  };

  function finish(ok) {
    document.body.classList.remove('busy');
    for (const button of document.querySelectorAll('button')) button.disabled = false;
    running.resolve({ ok, lines: running.lines });
    running = null;
  }

  // One job at a time; `command` is what the same job is on the command line.
  function run(command, job, ...args) {
    if (running) return Promise.reject(new Error('a job is running'));
    logLine(command, 'command');
    document.body.classList.add('busy');
    $('progress-label').textContent = 'starting';
    $('progress').value = 0;
    for (const button of document.querySelectorAll('button')) button.disabled = true;
    if (job === 'show') $('show-panel').hidden = true;
    return new Promise((resolve) => {
      running = { resolve, lines: [] };
      worker.postMessage({ job, args });
    });
  }

  // What the buttons do, and what the tests call.
  const page = {
    applyToFolder: (folder, merge) =>
      run(`${folder.name}> Vorandel ${merge.name}`, 'applyToFolder', folder, merge),
    applyToDownload: (level, merge) =>
      run(`> Vorandel ${merge.name}   (level: ${level.name})`, 'applyToDownload', level, merge),
    make: (original, modified, name) =>
      run(`> mrgtool make ${original.name} ${modified.name}${name ? ` --name ${name}` : ''}`,
        'make', original, modified, name),
    check: (merge, level) =>
      run(`> mrgtool check ${merge.name} ${level.name}`, 'check', merge, level),
    show: (merge) => run(`> mrgtool show ${merge.name}`, 'show', merge),
  };
  window.vorandel = page;

  // Runs `action` with the chosen files, or says which one is missing.
  const withFiles = (ids, action) => () => {
    const files = ids.map((id) => $(id).files?.[0] ?? $(id).handle);
    const missing = ids.filter((id, i) => !files[i]);
    if (missing.length === 0) return action(...files);
    logLine(`Choose ${missing.map((id) => $(id).dataset.what).join(' and ')} first.`, 'note');
  };

  $('pick-folder').onclick = async () => {
    try {
      const handle = await showDirectoryPicker({ id: 'data', mode: 'readwrite' });
      Object.assign($('folder'), { handle, textContent: handle.name });
    } catch (error) {
      if (error.name !== 'AbortError') logLine(`No folder: ${error.message}`, 'failed');
    }
  };
  $('apply').onclick = canWriteFolders
    ? withFiles(['folder', 'apply-merge'], page.applyToFolder)
    : withFiles(['apply-level', 'apply-merge'], page.applyToDownload);
  $('make').onclick = withFiles(['make-original', 'make-modified'], (a, b) =>
    page.make(a, b, $('make-name').value.trim()));
  $('check').onclick = withFiles(['check-merge', 'check-level'], page.check);
  $('show').onclick = withFiles(['check-merge'], page.show);
  $('make-original').onchange = () => {
    $('make-name').placeholder = $('make-original').files[0]?.name ?? "ORIGINAL's file name";
  };

  let picture = null;
  function drawShow({ head, rows, actions }) {
    const heads = head.trimEnd().split('\n');
    picture = { actions, rows: rows.split('\n').slice(0, -1), columns: heads.at(-1) };
    $('show-panel').hidden = false;
    $('show-table').textContent = head + rows +
      (actions.length / 4 > ROWS_MAX ? `... and ${actions.length / 4 - ROWS_MAX} more rows\n` : '');
    $('show-row').textContent = 'Point at an action to see its row.';
    logLine('The table and the picture are below the log.', 'note');
    drawBar();
    $('show-panel').scrollIntoView({ block: 'nearest' });
  }

  // The level from 0 to the end of the last removed range, as a bar: what
  // actions remove is marked on it, where they insert below it. Many actions
  // share a pixel on a large level, so marks are gathered by column.
  function drawBar() {
    const { actions } = picture;
    const canvas = $('show-bar');
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth;
    canvas.width = width * ratio;
    canvas.height = canvas.clientHeight * ratio;
    const g = canvas.getContext('2d');
    g.scale(ratio, ratio);
    let end = 1;
    for (let i = 0; i < actions.length; i += 4) end = Math.max(end, actions[i + 1] + actions[i + 2]);
    picture.end = end;
    const x = (offset) => (offset / end) * width;
    const removed = new Uint8Array(width + 1);
    const inserted = new Uint8Array(width + 1);
    for (let i = 0; i < actions.length; i += 4) {
      const from = Math.floor(x(actions[i + 1]));
      const to = Math.max(from, Math.ceil(x(actions[i + 1] + actions[i + 2])) - 1);
      if (actions[i + 2] > 0) removed.fill(1, from, to + 1);
      if (actions[i + 3] > 0) inserted[from] = 1;
    }
    g.fillStyle = '#c9d3dd';
    g.fillRect(0, 8, width, 24);
    for (let column = 0; column <= width; column++) {
      g.fillStyle = '#d9463e';
      if (removed[column]) g.fillRect(column, 8, 1, 24);
      g.fillStyle = '#2e9b57';
      if (inserted[column]) g.fillRect(column - 1, 34, 3, 10);
    }
    g.fillStyle = '#555';
    g.font = '12px system-ui, sans-serif';
    g.fillText('0', 0, 60);
    // Show has no level: the bar ends where the last change does.
    const last = `byte ${end.toLocaleString('en')}, the last change's end`;
    g.fillText(last, width - g.measureText(last).width, 60);
  }

  // The action nearest to the pointer: the last one starting at or before
  // it, or the next one if that is closer.
  $('show-bar').onmousemove = (event) => {
    if (!picture?.actions.length) return;
    const { actions, end } = picture;
    const canvas = $('show-bar');
    const at = (event.offsetX / canvas.clientWidth) * end;
    let low = 0;
    let high = actions.length / 4 - 1;
    while (low < high) {
      const middle = Math.ceil((low + high) / 2);
      if (actions[middle * 4 + 1] <= at) low = middle;
      else high = middle - 1;
    }
    const next = Math.min(low + 1, actions.length / 4 - 1);
    const index = Math.abs(actions[next * 4 + 1] - at) < Math.abs(actions[low * 4 + 1] - at)
      ? next : low;
    $('show-marker').style.left = `${(actions[index * 4 + 1] / end) * canvas.clientWidth}px`;
    $('show-marker').hidden = false;
    $('show-row').textContent = `${picture.columns}\n${picture.rows[index] ??
      `(action ${index + 1}: the page lists the first ${ROWS_MAX} rows)`}`;
  };
  window.onresize = () => picture && drawBar();
}

// Started by the page as its worker, this script has no document.
if (typeof document === 'undefined') startWorker();
else startPage();
