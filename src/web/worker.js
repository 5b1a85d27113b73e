'use strict';
// The page's worker: Vorandel's and mrgtool's jobs, run with the merge file
// library compiled to WebAssembly (mergefile.wasm), so that the page stays
// responsive while a large level is merged. Every line it logs in a tool's
// name is made by the library, as the tool makes it; only the page's limits
// and faults are in the page's own words.
//
// A classic worker: opened from disk, a page may start a classic worker from
// a Blob URL, where a module one is refused, so this script uses neither
// import nor import.meta. Served, it is worker.js, with protocol.js and
// mergefile.wasm beside it; in vorandel.html (inline_page.mjs) protocol.js
// stands in place of the importScripts line, and the WebAssembly below.
importScripts('protocol.js');
const WASM_BASE64 = '';

const { JOB, REPLY, LINE } = self.VorandelProtocol;

const FILE_MAX = 2 ** 30; // the page's limit; Vorandel's own is 4 GiB - 2 bytes
const CHUNK = 2 ** 26; // bytes read at a time, between progress reports
const ROWS_MAX = 10000; // rows of show's table put in the page

// The library's enums (web_api.cpp): NameRules, MergeVerdict, MakeOutcome,
// VorandelSays, MrgtoolSays and MarkMessage.
const RULES = { WINDOWS: 1, BOTH: 2 };
const VERDICT_OK = 0;
const MADE = { FILE_TOO_LARGE: 1, NOT_REPRODUCED: 2 };
const VORANDEL = { FILE_NOT_FOUND: 1, FILE_TOO_LARGE: 3, READ_FAILED: 4, BACKING_UP: 5,
  COPY_FAILED: 6, PROCESSING: 7, DONE: 8, WRITE_FAILED: 9 };
const MRGTOOL = { NAME_REFUSED: 0, NAME_REFUSED_FIELD: 2, NAME_NOT_ASCII: 3,
  MERGE_TOO_LARGE: 4, NOT_REPRODUCED: 5, CANT_OPEN: 6, CANT_READ: 8 };
const MARK = { RESTORED: 0, RESTORE_FAILED: 1, BACKUP_UNREADABLE: 2, MARK_UNREADABLE: 4,
  MARK_KEPT: 6 };

// A job that stops, with its lines ({ text, kind }) saying why.
class Failure extends Error {
  constructor(lines) {
    super(lines[0]?.text);
    this.lines = lines;
  }
}
const failed = (texts, kind = LINE.FAILED) => new Failure(texts.map((text) => ({ text, kind })));

// The library asked for memory that can't be had (web_out_of_memory).
class OutOfMemory extends Error {}
// The library stopped on a fault of its own (abort(), through proc_exit).
class LibraryAbort extends Error {}

// Memory the library, the browser's buffers or a new instance could not get:
// a RangeError such as "Array buffer allocation failed" or "Out of memory".
const isOutOfMemory = (error) => error instanceof OutOfMemory
  || (error instanceof RangeError && /memory|allocat/i.test(error.message));

// What the log says of a failure: the tool's lines, or the page's own words,
// which tell a lack of memory from a fault of the page.
function linesOf(error) {
  if (error instanceof Failure) return error.lines;
  const text = isOutOfMemory(error)
    ? 'The page ran out of memory for this job: the browser gave it no more, and the page can '
      + 'never have more than 4 GiB. Close other tabs and try again, or use the command-line '
      + 'tool, which needs less.'
    : 'The page stopped this job on a fault of its own, not for lack of memory '
      + `(${error instanceof LibraryAbort ? error.message : error}).`;
  return [{ text, kind: LINE.PAGE }];
}

// Windows error numbers for the browser's DOMException names, so that a
// message reads as the tools' would on Windows. The file system's own cause
// (disk full, file held) is hidden behind these names.
const WINDOWS_ERRORS = {
  NotFoundError: 2, // no such file (3 for a folder in the path, see folderOf)
  TypeMismatchError: 5, // a folder where a file should be: access denied
  NotAllowedError: 5, // no permission
  SecurityError: 5,
  NoModificationAllowedError: 32, // held by another writer
  QuotaExceededError: 112, // the disk is full
};
const windowsError = (error) =>
  error.windowsError ?? (isOutOfMemory(error) ? 8 : WINDOWS_ERRORS[error.name] ?? 31);

// Names are bytes to the tools: UTF-8 where they are, else Windows' own code page.
function decode(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder('windows-1252').decode(bytes);
  }
}

// One job's instance of the library: a fresh memory each time, given back
// to the system when the job ends, whatever state a failure left it in.
class Library {
  static async start(module, onProgress) {
    const instance = await WebAssembly.instantiate(module, {
      env: {
        emscripten_notify_memory_growth() {},
        web_progress: onProgress,
        web_out_of_memory() {
          throw new OutOfMemory('the library could not have the memory it needed');
        },
      },
      wasi_snapshot_preview1: {
        proc_exit(status) {
          throw new LibraryAbort(`the library aborted with status ${status}`);
        },
      },
    });
    instance.exports._initialize();
    instance.exports.web_start();
    return Object.assign(new Library(), { x: instance.exports });
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
    if (at === 0) throw new OutOfMemory(`no memory for ${bytes.length} bytes`);
    this.memory.set(bytes, at);
    return at;
  }

  view(at, size) {
    return this.memory.subarray(at, at + size);
  }

  text() {
    return decode(this.view(this.x.web_text() >>> 0, this.x.web_text_size() >>> 0));
  }

  // The text as lines: a message may hold more than one.
  lines() {
    return this.text().split('\n');
  }

  bytes() {
    return this.view(this.x.web_bytes() >>> 0, this.x.web_bytes_size() >>> 0).slice();
  }

  // Vorandel's message `id` (VorandelSays), as lines.
  vorandel(id, { name = '', other = '', error = 0, error2 = 0 } = {}) {
    this.x.web_vorandel_says(id, this.string(name), this.string(other), error, error2);
    return this.lines();
  }

  // mrgtool's error line `id` (MrgtoolSays), "mrgtool: " included, as lines.
  mrgtool(id, { name = '', other = '', error = 0 } = {}) {
    this.x.web_mrgtool_says(id, this.string(name), this.string(other), error);
    return this.lines();
  }
}

// Who speaks in a job, for what goes wrong with its files: Vorandel in a
// player's run, mrgtool in an author's job.
const VOICES = {
  vorandel: {
    readFailed: (lib, name, error) => failed(error.name === 'NotFoundError'
      ? lib.vorandel(VORANDEL.FILE_NOT_FOUND, { name })
      : lib.vorandel(VORANDEL.READ_FAILED, { error: windowsError(error) })),
    // The tool's word, then the page's own: its limit is lower.
    tooLarge: (lib, name) => new Failure([
      ...lib.vorandel(VORANDEL.FILE_TOO_LARGE, { name }).map((text) => ({ text, kind: LINE.FAILED })),
      { text: 'The page takes files of up to 1 GiB; the command-line Vorandel takes larger ones.',
        kind: LINE.PAGE }]),
  },
  mrgtool: {
    readFailed: (lib, name, error) => failed(lib.mrgtool(
      error.name === 'NotFoundError' ? MRGTOOL.CANT_OPEN : MRGTOOL.CANT_READ,
      { name, error: windowsError(error) })),
    // mrgtool would take the file: the refusal is the page's alone.
    tooLarge: (lib, name) => failed([`${name}: the page takes files of up to 1 GiB; the `
      + 'command-line mrgtool takes larger ones.'], LINE.PAGE),
  },
};

// The library's bytes, inlined or fetched, compiled from bytes: a server need
// not know WebAssembly's media type.
async function compileLibrary() {
  if (typeof WebAssembly === 'undefined') throw new Error('this browser has no WebAssembly');
  if (WASM_BASE64) return WebAssembly.compile(Uint8Array.from(atob(WASM_BASE64), (c) => c.charCodeAt(0)));
  const response = await fetch(new URL('mergefile.wasm', location.href));
  if (!response.ok) throw new Error(`mergefile.wasm: HTTP ${response.status}`);
  return WebAssembly.compile(await response.arrayBuffer());
}

const post = (message, transfer = []) => postMessage(message, transfer);

// Reads a file into the library's memory, with the job's voice for what goes
// wrong; gives where it is.
async function load(job, file, name) {
  const { lib, voice, progress } = job;
  if (file.size > FILE_MAX) throw voice.tooLarge(lib, name);
  const at = lib.alloc(file.size);
  if (at === 0) throw voice.readFailed(lib, name, { windowsError: 8 });
  try {
    for (let done = 0; done < file.size; done += CHUNK) {
      const chunk = await file.slice(done, done + CHUNK).arrayBuffer();
      lib.memory.set(new Uint8Array(chunk), at + done);
      progress(`reading ${name}`, done + chunk.byteLength, file.size);
    }
  } catch (error) {
    throw voice.readFailed(lib, name, error);
  }
  return at;
}

// The level name, after Vorandel's checks on it by `rules`.
function levelName(lib, merge, size, rules) {
  if (lib.x.web_check_name(merge, size, rules) !== VERDICT_OK) throw failed(lib.lines());
  return lib.text();
}

// The merged level in the library's memory, after every action was checked:
// where it is and its size. A view of it is taken only once no other call
// can grow the memory, which would detach it.
function mergedLevel(lib, merge, mergeSize, level, levelSize, writeFailed) {
  if (!lib.x.web_check_actions(merge, mergeSize, levelSize)) throw failed(lib.lines());
  const size = lib.x.web_number();
  const at = lib.alloc(size);
  if (at === 0) throw writeFailed({ windowsError: 8 });
  if (!lib.x.web_apply(merge, mergeSize, level, levelSize, at, size))
    throw new Error(`web_apply refused the ${size} bytes web_check_actions gave`);
  return { at, size };
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

// Vorandel's first step: where a run was stopped while it rewrote the level,
// its mark stands beside the level, and the level is put back from the
// backup the mark describes, or nothing is touched. The page itself writes
// the level whole and leaves no mark.
async function restoreIfMarked(job, root, merge, name) {
  const { lib, say } = job;
  const markSays = (message, error = 0) => {
    lib.x.web_mark_message(merge, message, error);
    return lib.lines();
  };
  let place, mark, backupFile;
  try {
    place = await folderOf(root, name);
  } catch {
    return; // no folder, no mark: the backup copy says what is wrong
  }
  try {
    const markFile = await (await place.folder.getFileHandle(`${place.name}.merging`)).getFile();
    mark = new Uint8Array(await markFile.arrayBuffer());
  } catch (error) {
    if (error.name === 'NotFoundError') return;
    throw failed(markSays(MARK.MARK_UNREADABLE, windowsError(error)));
  }
  const markAt = lib.alloc(mark.length);
  if (markAt === 0) throw new OutOfMemory(`no memory for ${mark.length} bytes`);
  lib.memory.set(mark, markAt);
  let backup;
  try {
    backupFile = await (await place.folder.getFileHandle(`${place.name}.bak`)).getFile();
    backup = await load(job, backupFile, `${name}.bak`);
  } catch (error) {
    throw error instanceof Failure ? error
      : failed(markSays(MARK.BACKUP_UNREADABLE, windowsError(error)));
  }
  const verdict = lib.x.web_read_mark(merge, markAt, mark.length, backup, backupFile.size);
  if (verdict !== MARK.RESTORED) throw failed(markSays(verdict));
  job.progress(`writing ${name}`, 0, 0);
  try {
    await writeWhole(await place.folder.getFileHandle(place.name, { create: true }), backupFile);
  } catch (error) {
    throw failed(markSays(MARK.RESTORE_FAILED, windowsError(error)));
  }
  try {
    await place.folder.removeEntry(`${place.name}.merging`);
  } catch (error) {
    say(markSays(MARK.RESTORED));
    throw failed(markSays(MARK.MARK_KEPT, windowsError(error)));
  }
  say(markSays(MARK.RESTORED));
}

// Vorandel's run, step by step, on a folder the player picked, with Windows'
// rules for the level name; gives the level written, for the page to know it
// again.
async function applyToFolder(job, root, mergeFile) {
  const { lib, say, progress } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  const name = levelName(lib, merge, mergeFile.size, RULES.WINDOWS);
  await restoreIfMarked(job, root, merge, name);
  const backupName = `${name}.bak`;
  say(lib.vorandel(VORANDEL.BACKING_UP, { name, other: backupName }));
  const copyFailed = (error) => failed(lib.vorandel(VORANDEL.COPY_FAILED,
    { name, other: backupName, error: windowsError(error) }));
  let place, handle, file;
  try {
    place = await folderOf(root, name);
    handle = await place.folder.getFileHandle(place.name);
    file = await handle.getFile();
  } catch (error) {
    throw copyFailed(error);
  }
  if (file.size > FILE_MAX) throw job.voice.tooLarge(lib, name); // before any backup
  // The browser writes one file at a time, and slowly: the backup is written
  // from the level's own file while the level is read and merged, and the
  // level is written only once the backup is whole.
  progress(`writing ${backupName}`, 0, 0);
  const backedUp = place.folder
    .getFileHandle(`${place.name}.bak`, { create: true })
    .then((backup) => writeWhole(backup, file));
  const writeFailed = (error) =>
    failed(lib.vorandel(VORANDEL.WRITE_FAILED, { name, error: windowsError(error) }));
  const merged = load(job, file, name).then((level) =>
    mergedLevel(lib, merge, mergeFile.size, level, file.size, writeFailed),
  );
  merged.catch(() => {}); // reported in its turn, after the backup's outcome
  try {
    await backedUp;
  } catch (error) {
    throw copyFailed(error);
  }
  say(lib.vorandel(VORANDEL.PROCESSING, { name }));
  const { at, size } = await merged;
  const done = lib.vorandel(VORANDEL.DONE);
  progress(`writing ${name}`, 0, 0);
  try {
    await writeWhole(handle, lib.view(at, size));
  } catch (error) {
    throw writeFailed(error);
  }
  say(done);
  const written = await handle.getFile();
  return { name, handle, size: written.size, lastModified: written.lastModified };
}

// Where the page has no folder to write into: the merged level is downloaded
// and the picked level, untouched, is the backup.
async function applyToDownload(job, levelFile, mergeFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  const name = levelName(lib, merge, mergeFile.size, RULES.WINDOWS);
  say(lib.vorandel(VORANDEL.PROCESSING, { name }));
  const level = await load(job, levelFile, levelFile.name);
  const noMemory = () => failed(lib.vorandel(VORANDEL.READ_FAILED, { error: 8 }));
  const { at, size } = mergedLevel(lib, merge, mergeFile.size, level, levelFile.size, noMemory);
  const bytes = lib.view(at, size).slice();
  say(lib.vorandel(VORANDEL.DONE));
  post({ type: REPLY.DOWNLOAD, name: name.split(/[\\/]/).at(-1), bytes }, [bytes.buffer]);
}

// mrgtool make, writing to a download instead of a file. The name is judged,
// and a warning given, before the files are read, as mrgtool does.
async function make(job, original, modified, wantedName) {
  const { lib, say } = job;
  lib.x.web_default_name(lib.string(original.name));
  const name = wantedName || lib.text();
  if (lib.x.web_name_fault(lib.string(name)))
    throw failed(lib.mrgtool(wantedName ? MRGTOOL.NAME_REFUSED : MRGTOOL.NAME_REFUSED_FIELD,
      { name, other: lib.text() }));
  if (!lib.x.web_plain_ascii(lib.string(name)))
    say(lib.mrgtool(MRGTOOL.NAME_NOT_ASCII, { name }), LINE.WARNING);
  const base = name.split(/[\\/]/).at(-1);
  const outName = `${base.includes('.') ? base.slice(0, base.lastIndexOf('.')) : base}.mrg`;
  const a = await load(job, original, original.name);
  const b = await load(job, modified, modified.name);
  job.progress('comparing', 0, 1);
  const outcome = lib.x.web_make(a, original.size, b, modified.size, lib.string(name),
    lib.string(outName));
  if (outcome === MADE.FILE_TOO_LARGE) throw failed(lib.mrgtool(MRGTOOL.MERGE_TOO_LARGE));
  if (outcome === MADE.NOT_REPRODUCED)
    throw failed(lib.mrgtool(MRGTOOL.NOT_REPRODUCED, { name: original.name, other: modified.name }));
  const written = lib.text().trimEnd();
  const bytes = lib.bytes();
  say(written);
  post({ type: REPLY.DOWNLOAD, name: outName, bytes }, [bytes.buffer]);
}

// mrgtool check, with both systems' rules for the name, which is judged
// before the level is read, as mrgtool does. Its verdict is on its output.
async function check(job, mergeFile, levelFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  levelName(lib, merge, mergeFile.size, RULES.BOTH);
  const level = await load(job, levelFile, levelFile.name);
  const verdict = lib.x.web_check(merge, mergeFile.size, level, levelFile.size,
    lib.string(mergeFile.name), lib.string(levelFile.name));
  if (verdict !== VERDICT_OK) throw failed(lib.lines());
  say(lib.text().trimEnd());
}

// mrgtool show's table, and each action's numbers for the picture.
async function show(job, mergeFile) {
  const { lib } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  if (!lib.x.web_show(merge, mergeFile.size, lib.string(mergeFile.name))) throw failed(lib.lines());
  const head = lib.text();
  const actions = new Uint32Array(lib.bytes().buffer);
  lib.x.web_show_rows(merge, mergeFile.size, ROWS_MAX);
  post({ type: REPLY.SHOW, head, rows: lib.text(), actions, stride: lib.x.web_show_stride() },
    [actions.buffer]);
}

const JOBS = {
  [JOB.APPLY_TO_FOLDER]: [applyToFolder, VOICES.vorandel],
  [JOB.APPLY_TO_DOWNLOAD]: [applyToDownload, VOICES.vorandel],
  [JOB.MAKE]: [make, VOICES.mrgtool],
  [JOB.CHECK]: [check, VOICES.mrgtool],
  [JOB.SHOW]: [show, VOICES.mrgtool],
};

const module = compileLibrary();
// The page says in words when the library can't be had.
module.then(() => post({ type: REPLY.READY }),
  (error) => post({ type: REPLY.BROKEN, why: `${error.message ?? error}` }));

onmessage = async ({ data: { job, args } }) => {
  // Texts of a message, one line each.
  const say = (texts, kind = LINE.OUT) => {
    for (const text of [texts].flat().flatMap((lines) => lines.split('\n')))
      post({ type: REPLY.LINE, text, kind });
  };
  const progress = (label, done, total) => post({ type: REPLY.PROGRESS, label, done, total });
  let shown = -1;
  const diffProgress = (done, total) => {
    const percent = Math.floor((100 * done) / total);
    if (percent !== shown) progress('comparing', done, total);
    shown = percent;
  };
  const [run, voice] = JOBS[job];
  try {
    const lib = await Library.start(await module, diffProgress);
    const level = await run({ lib, voice, say, progress }, ...args);
    post({ type: REPLY.END, ok: true, level });
  } catch (error) {
    for (const line of linesOf(error)) post({ type: REPLY.LINE, ...line });
    post({ type: REPLY.END, ok: false });
  }
};
