'use strict';
// The page's worker: Vorandel's and mrgtool's jobs, run with the merge file
// library compiled to WebAssembly (mergefile.wasm), so that the page stays
// responsive while a large level is merged. Every line it logs in a tool's
// name is made by the library, as the tool makes it; only the page's limits,
// faults and notes are in the page's own words. The library's numbers and the
// names of a run's files come from the library too.
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
const CHUNK = 2 ** 24; // bytes read or written at a time, between progress reports
const ROWS_MAX = 10000; // rows of show's table put in the page

// A job that stops, with its lines ({ text, kind }) saying why.
class Failure extends Error {
  constructor(lines) {
    super(lines[0]?.text);
    this.lines = lines;
  }
}
const failed = (texts, kind = LINE.FAILED) => new Failure(texts.map((text) => ({ text, kind })));
// A job that ends well before its last step: a level already merged.
class Stop extends Error {}

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
    let exports = null;
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
        // The C library's time functions look for TZ: the environment is
        // empty, and times are UTC.
        environ_sizes_get(countAt, sizeAt) {
          const memory = new DataView(exports.memory.buffer);
          memory.setUint32(countAt, 0, true);
          memory.setUint32(sizeAt, 0, true);
          return 0;
        },
        environ_get: () => 0,
      },
    });
    ({ exports } = instance);
    instance.exports._initialize();
    instance.exports.web_start();
    const lib = Object.assign(new Library(), { x: instance.exports });
    // The library's enums by name: the page holds no numbers of its own.
    lib.x.web_enums();
    lib.enums = JSON.parse(lib.text());
    return lib;
  }

  // The number of the library's enumerator `type`.`name`; a name it lacks is
  // a fault of the page, never a number made up.
  is(type, name) {
    const value = this.enums[type]?.[name];
    if (value === undefined) throw new Error(`the library has no ${type}.${name}`);
    return value;
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

  // Vorandel's message `id` (a VorandelSays name), as lines.
  vorandel(id, { name = '', other = '', error = 0, error2 = 0 } = {}) {
    this.x.web_vorandel_says(this.is('VorandelSays', id), this.string(name), this.string(other),
      error, error2);
    return this.lines();
  }

  // mrgtool's error line `id` (a MrgtoolSays name), "mrgtool: " included, as lines.
  mrgtool(id, { name = '', other = '', error = 0 } = {}) {
    this.x.web_mrgtool_says(this.is('MrgtoolSays', id), this.string(name), this.string(other),
      error);
    return this.lines();
  }

  // Vorandel's message `id` (a MarkMessage name) on the mark beside the
  // job's level, as lines.
  markSays(id, error = 0) {
    this.x.web_mark_message(this.is('MarkMessage', id), error);
    return this.lines();
  }

  // Names the job's level after the merge file `merge`: the names of its run
  // (web_run_names).
  runNames(merge) {
    this.x.web_run_names(merge);
    return JSON.parse(this.text());
  }

  // The text as the library's bytes, for a file written of it.
  textBytes() {
    return this.view(this.x.web_text() >>> 0, this.x.web_text_size() >>> 0).slice();
  }

  // A string of one character per byte, as the library's bytes, ended by NUL.
  latin1(value) {
    const at = this.alloc(value.length + 1);
    if (at === 0) throw new OutOfMemory(`no memory for ${value.length + 1} bytes`);
    this.memory.set(Uint8Array.from(`${value}\0`, (c) => c.charCodeAt(0)), at);
    return at;
  }

  // The level's history once the job's change is in.
  newHistory() {
    return this.view(this.x.web_history_bytes() >>> 0, this.x.web_history_size() >>> 0).slice();
  }

  // The found file's FileState, Windows error, place and size, as the
  // library's calls take them.
  static fileArgs({ state, error, at, size }) {
    return [state, error, at, size];
  }
}

// Who speaks in a job, for what goes wrong with its files: Vorandel in a
// player's run, mrgtool in an author's job.
const VOICES = {
  vorandel: {
    readFailed: (lib, name, error) => failed(error.name === 'NotFoundError'
      ? lib.vorandel('FILE_NOT_FOUND', { name })
      : lib.vorandel('READ_FAILED', { error: windowsError(error) })),
    // The tool's word, then the page's own: its limit is lower.
    tooLarge: (lib, name) => new Failure([
      ...lib.vorandel('FILE_TOO_LARGE', { name }).map((text) => ({ text, kind: LINE.FAILED })),
      { text: 'The page takes files of up to 1 GiB; the command-line Vorandel takes larger ones.',
        kind: LINE.PAGE }]),
  },
  mrgtool: {
    readFailed: (lib, name, error) => failed(lib.mrgtool(
      error.name === 'NotFoundError' ? 'CANT_OPEN' : 'CANT_READ',
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

// Reads a file into the library's memory and gives where it is; the
// browser's error, or one with windowsError 8 for want of memory, as it is.
async function readInto(job, file, name) {
  const { lib, progress } = job;
  const at = lib.alloc(file.size);
  if (at === 0) throw { name: 'OutOfMemory', windowsError: 8 };
  for (let done = 0; done < file.size; done += CHUNK) {
    const chunk = await file.slice(done, done + CHUNK).arrayBuffer();
    lib.memory.set(new Uint8Array(chunk), at + done);
    progress(`reading ${name}`, done + chunk.byteLength, file.size);
  }
  return at;
}

// The same, with the job's voice for what goes wrong.
async function load(job, file, name) {
  const { lib, voice } = job;
  if (file.size > FILE_MAX) throw voice.tooLarge(lib, name);
  try {
    return await readInto(job, file, name);
  } catch (error) {
    throw voice.readFailed(lib, name, error);
  }
}

// The level name, after Vorandel's checks on it (and on the merge file's
// record) by `rules`, a NameRules name.
function levelName(lib, merge, size, rules) {
  if (lib.x.web_check_name(merge, size, lib.is('NameRules', rules)) !== lib.is('MergeVerdict', 'OK'))
    throw failed(lib.lines());
  return lib.text();
}

// Vorandel's verdict on `level` before anything is touched, with `backup`
// (null where there is none) and the level's history as found (none where
// not given): stops the job where Vorandel stops, with its line, a level
// that holds the mod already as a success; says the line naming the mods
// whose bytes the merge file changes, where it goes on over them; else gives
// the first faulty action's message, or null.
function judge(job, merge, mergeSize, level, backup, history = null) {
  const { lib, say } = job;
  const found = history ?? { state: lib.is('FileState', 'MISSING'), error: 0, at: 0, size: 0 };
  const judged = lib.x.web_judge(merge, mergeSize, level.at, level.size, backup?.at ?? 0,
    backup?.size ?? 0, ...Library.fileArgs(found));
  const is = (name) => judged === lib.is('Judged', name);
  if (is('GO_ON')) return null;
  if (is('FAULTY')) return lib.lines();
  if (is('REFUSED')) throw failed(lib.lines());
  say(lib.lines());
  if (is('DONE_ALREADY')) throw new Stop();
  if (!is('OVER_MODS')) throw new Error(`web_judge gave ${judged}`);
  return null;
}

// The merged level in the library's memory, for actions web_judge passed:
// where it is and its size. A view of it is taken only once no other call
// can grow the memory, which would detach it.
function mergedLevel(lib, merge, mergeSize, level, writeFailed) {
  if (!lib.x.web_check_actions(merge, mergeSize, level.size)) throw failed(lib.lines());
  const size = lib.x.web_number();
  const at = lib.alloc(size);
  if (at === 0) throw writeFailed({ windowsError: 8 });
  if (!lib.x.web_apply(merge, mergeSize, level.at, level.size, at, size))
    throw new Error(`web_apply refused the ${size} bytes web_check_actions gave`);
  return { at, size };
}

// The level's folder inside `root`, by the folder's parts the library gives.
// A folder in the path that is missing or a file is error 3, as on Windows
// for a file in it; for mrgtool, which enters the folder, it is `missing`.
async function folderOf(root, parts, missing = 3) {
  let folder = root;
  for (const part of parts) {
    try {
      folder = await folder.getDirectoryHandle(part);
    } catch (error) {
      const notThere = ['NotFoundError', 'TypeMismatchError'].includes(error.name);
      throw notThere ? { name: error.name, windowsError: missing } : error;
    }
  }
  return folder;
}

// A file of the level's folder as a run finds it: its handle and its File,
// or the error that keeps it out of reach.
async function find(folder, name) {
  try {
    const handle = await (await folder).getFileHandle(name);
    return { handle, file: await handle.getFile() };
  } catch (error) {
    return { error };
  }
}

// Not there, as Windows says it: no such file, or no folder in its path.
const isMissing = ({ error }) => error !== undefined && [2, 3].includes(windowsError(error));

// A found file as the library's FoundFile: MISSING, UNREADABLE (with the
// Windows error), or LOADED into its memory. The page can't judge what it
// can't read: a file over its limit stops the job.
async function loaded(job, found, name) {
  const state = (id, error = 0) => ({ state: job.lib.is('FileState', id), error, at: 0, size: 0 });
  if (found.error) return state(isMissing(found) ? 'MISSING' : 'UNREADABLE', windowsError(found.error));
  if (found.file.size > FILE_MAX) throw job.voice.tooLarge(job.lib, name);
  try {
    return { ...state('LOADED'), at: await readInto(job, found.file, name), size: found.file.size };
  } catch (error) {
    return state('UNREADABLE', windowsError(error));
  }
}

// Writes `data`, a Blob or bytes, as the file of `handle`, whole: the browser
// writes a new file beside the old one and puts it in its place on close, so
// a failure leaves the old file as it was. In pieces, for the progress bar;
// or at once, with `meanwhile` run while the browser writes.
async function writeWhole(job, handle, data, name, meanwhile = null) {
  const writable = await handle.createWritable();
  const size = data.size ?? data.byteLength;
  try {
    if (meanwhile) {
      job.progress(`writing ${name}`, 0, 0);
      const written = writable.write(data);
      written.catch(() => {}); // awaited below
      meanwhile();
      await written;
    }
    for (let done = 0; !meanwhile && done < size; done += CHUNK) {
      const end = Math.min(size, done + CHUNK);
      await writable.write(data instanceof Blob ? data.slice(done, end) : data.subarray(done, end));
      job.progress(`writing ${name}`, end, size);
    }
    await writable.close();
  } catch (error) {
    await writable.abort().catch(() => {});
    throw error;
  }
}

// Deletes the file `name` of `dir`; one already gone is no fault.
const gone = (dir, name) => dir.removeEntry(name).catch((error) => {
  if (error.name !== 'NotFoundError') throw error;
});

// Writes `data`, a Blob or bytes, whole as the file `inFolder` of `dir`,
// created where there is none; `name` for the progress bar.
const put = async (job, dir, inFolder, name, data) =>
  writeWhole(job, await dir.getFileHandle(inFolder, { create: true }), data, name);

// The file `from` of `dir` put in place of `to` (names in the folder), as
// Vorandel renames a file: moved, where the browser can move files there;
// else `to` is written whole of `data`, the same bytes, and `from` deleted.
async function rename(job, dir, from, to, data) {
  try {
    await (await dir.getFileHandle(from)).move(to);
  } catch {
    await put(job, dir, to, to, data);
    await dir.removeEntry(from);
  }
}

// A stopped run's history put in place: its draft renamed over the history.
// Without a draft, nothing changes.
async function commitDraft(job, names, dir) {
  const draft = await find(dir, names.inFolder.historyDraft);
  if (isMissing(draft)) return;
  if (draft.error) throw draft.error;
  await rename(job, dir, names.inFolder.historyDraft, names.inFolder.history, draft.file);
}

// A mark that names a pack's journal which is still there: a run on the pack
// was stopped midway, and every level it names must go back at once,
// which the page leaves to the programs. A journal gone, the pack went in
// whole, and the mark is acted on as any other.
async function refuseOpenPack(job, names, mark) {
  const { lib } = job;
  if (mark.state !== lib.is('FileState', 'LOADED') || !lib.x.web_mark_journal(mark.at, mark.size))
    return;
  const journal = JSON.parse(lib.text());
  const found = await find(folderOf(job.root, journal.folderParts), journal.inFolder);
  if (isMissing(found)) return;
  throw failed([`${names.mark} belongs to a pack of mods whose run was stopped midway, `
    + `as ${journal.name} tells: every level of the pack must go back first, which the page `
    + 'can\'t do. Run Vorandel on one of the pack\'s merge files, or mrgtool apply or remove '
    + 'on them, which puts every level back; then apply here again.'], LINE.PAGE);
}

// Vorandel's first step: where a run was stopped while it changed the level,
// its mark stands beside it, and the library decides: the level is finished,
// and the history's draft goes in place and the mark goes; the level is put
// back from the backup, and the draft goes with the mark; the level was put
// in place since, and is kept; or nothing is touched. Gives the level and the
// backup where they were read.
async function actOnMark(job, names, folder, files) {
  const { lib, say } = job;
  files.mark = await find(folder, names.inFolder.mark);
  if (isMissing(files.mark)) return {};
  files.backup = await find(folder, names.inFolder.backup);
  const mark = await loaded(job, files.mark, names.mark);
  await refuseOpenPack(job, names, mark);
  const level = await loaded(job, files.level, names.level);
  const backup = await loaded(job, files.backup, names.backup);
  const plan = lib.x.web_decide_on_mark(...[mark, level, backup].flatMap(Library.fileArgs));
  const draftIsTheRuns = lib.x.web_number() === 1;
  const dir = await folder;
  const markGone = () => dir.removeEntry(names.inFolder.mark);
  switch (plan) {
    case lib.is('MarkPlan', 'NOTHING'): return {};
    case lib.is('MarkPlan', 'REFUSE'): throw failed(lib.lines());
    case lib.is('MarkPlan', 'CLEAR_MARK'):
      try {
        if (draftIsTheRuns) await commitDraft(job, names, dir);
        else await gone(dir, names.inFolder.historyDraft);
        await markGone();
      } catch (error) {
        throw failed(lib.markSays('MERGED_MARK_KEPT', windowsError(error)));
      }
      return { level, backup: backup.state === lib.is('FileState', 'LOADED') ? backup : null };
    case lib.is('MarkPlan', 'KEEP_LEVEL'):
      try {
        await gone(dir, names.inFolder.historyDraft);
        await markGone();
      } catch (error) {
        throw failed(lib.markSays('MARK_KEPT', windowsError(error)));
      }
      say(lib.markSays('LEVEL_KEPT'));
      return {};
    case lib.is('MarkPlan', 'RESTORE'): break;
    default: throw new Error(`web_decide_on_mark gave ${plan}`);
  }
  try {
    const handle = files.level.handle
      ?? await dir.getFileHandle(names.inFolder.level, { create: true });
    await writeWhole(job, handle, lib.view(backup.at, backup.size), names.level);
    files.level = { handle, file: await handle.getFile() };
  } catch (error) {
    throw failed(lib.markSays('RESTORE_FAILED', windowsError(error)));
  }
  const kept = await gone(dir, names.inFolder.historyDraft).then(markGone)
    .then(() => null, (error) => error);
  say(lib.markSays('RESTORED'));
  if (kept) throw failed(lib.markSays('MARK_KEPT', windowsError(kept)));
  // The level holds the backup's bytes now.
  return { level: backup, backup };
}

// The backup, for a merge file without a record on a level its merge may
// have made: read only where its size tells so, and quietly, as Vorandel
// does. Null where there is none to read.
async function backupToJudge(job, merge, mergeSize, level, names, folder, files) {
  files.backup ??= await find(folder, names.inFolder.backup);
  const size = files.backup.file?.size;
  if (size === undefined || size >= 2 ** 32
    || !job.lib.x.web_backup_wanted(merge, mergeSize, level.size, size)) return null;
  const backup = await loaded(job, files.backup, names.backup);
  return backup.state === job.lib.is('FileState', 'LOADED') ? backup : null;
}

const copyFailed = (lib, names, error) => failed(lib.vorandel('COPY_FAILED',
  { name: names.level, other: names.backup, error: windowsError(error) }));

// The level's file copied to its backup, between Vorandel's first two lines,
// with `meanwhile` run while the browser writes.
async function backUp(job, names, folder, file, meanwhile = null) {
  const { lib, say } = job;
  say(lib.vorandel('BACKING_UP', { name: names.level, other: names.backup }));
  try {
    const handle = await (await folder).getFileHandle(names.inFolder.backup, { create: true });
    await writeWhole(job, handle, file, names.backup, meanwhile);
  } catch (error) {
    throw copyFailed(lib, names, error);
  }
  say(lib.vorandel('PROCESSING', { name: names.level }));
}

// The rest of a level's change once the backup is made, as every run that
// changes a level makes it (level_change.cpp): the old history kept under
// another name where a new one starts, the new history's draft, the mark,
// the level, then the commit: the history in place and the mark gone. The
// browser writes each file whole when its writable closes, but a file it
// creates is there, empty, from the start: the mark is written as its draft
// and moved into place, as Vorandel renames it, so that it is whole under
// its name. Where the browser can't move a file there, a file is renamed by
// writing it anew and deleting the old one (rename), and the mark is
// written in place. So a page stopped anywhere leaves what the next run, the
// page's or the programs', recovers by the mark: the level finished, the
// draft goes in place; else the level is put back from the backup, and the
// draft goes.
//
// `change`: the history's bytes, the mark's, the level's (a function, called
// once nothing more can grow the library's memory), and for a history that
// can't go on, the name to keep it under and its file as found.
async function changeLevel(job, names, folder, handle, change) {
  const { lib } = job;
  const dir = await folder;
  await markLevel(job, names, dir, handle, change);
  try {
    await writeWhole(job, handle, change.level(), names.level);
  } catch (error) {
    // The level is as it was: so is its history, and the mark goes.
    const lines = lib.vorandel('WRITE_FAILED', { name: names.level, error: windowsError(error) });
    const kept = await unmark(names, dir);
    throw failed(kept ? [...lines, ...lib.markSays('MARK_KEPT', windowsError(kept))] : lines);
  }
  await commitLevel(job, names, dir, change);
}

const quietly = (promise) => promise.catch(() => {});

// A level's change before the level is written: the old history kept under
// another name where a new one starts, with Vorandel's line, the new
// history's draft, and the mark. What fails leaves no draft and no mark.
async function markLevel(job, names, dir, handle, change) {
  const { lib, say } = job;
  const { inFolder } = names;
  const fileFailed = (name, error) =>
    failed(lib.vorandel('MARK_WRITE_FAILED', { name, error: windowsError(error) }));
  if (change.setAside) {
    try {
      await rename(job, dir, inFolder.history, change.setAside.inFolder, change.oldHistory);
    } catch (error) {
      throw fileFailed(change.setAside.name, error);
    }
    say(change.setAside.line);
  }
  try {
    await put(job, dir, inFolder.historyDraft, names.historyDraft, change.history);
  } catch (error) {
    await quietly(gone(dir, inFolder.historyDraft));
    throw fileFailed(names.historyDraft, error);
  }
  try {
    if (typeof handle.move !== 'function') await put(job, dir, inFolder.mark, names.mark, change.mark);
    else {
      await put(job, dir, inFolder.markDraft, names.markDraft, change.mark);
      await rename(job, dir, inFolder.markDraft, inFolder.mark, change.mark);
    }
  } catch (error) {
    for (const name of [inFolder.historyDraft, inFolder.markDraft, inFolder.mark])
      await quietly(gone(dir, name));
    throw fileFailed(names.mark, error);
  }
}

// A level left as it was: its history's draft and its mark go. Gives the
// error that kept the mark, or null.
async function unmark(names, dir) {
  await quietly(gone(dir, names.inFolder.historyDraft));
  return dir.removeEntry(names.inFolder.mark).then(() => null, (error) => error);
}

// A level's commit: the new history in place, and the mark gone.
async function commitLevel(job, names, dir, change) {
  try {
    await rename(job, dir, names.inFolder.historyDraft, names.inFolder.history, change.history);
    await dir.removeEntry(names.inFolder.mark);
  } catch (error) {
    throw failed(job.lib.markSays('MERGED_MARK_KEPT', windowsError(error)));
  }
}

// The level's history as a run finds it beside the level: a FileState, with
// its bytes where LOADED.
async function historyOf(job, names, folder, files) {
  files.history = await find(folder, names.inFolder.history);
  return loaded(job, files.history, names.history);
}

// The history and the mark of a merge that goes in, as Vorandel writes them,
// and where the history found can't go on, the first free name to keep it
// under: LEVEL.history.N, which names no file.
async function mergeChange(job, merge, mergeFile, level, names, folder, files) {
  const { lib } = job;
  if (!lib.x.web_history_with_mod(merge, mergeFile.size, level.at, level.size,
    Math.floor(Date.now() / 1000), lib.string(mergeFile.name))) throw failed(lib.lines());
  return changeOf(job, folder, files);
}

// The change web_history_with_mod or web_pack_change made of the job's
// level: the new history, the mark, and where the history found can't go
// on, the first free name to keep it under, with Vorandel's line for it.
async function changeOf(job, folder, files) {
  const { lib } = job;
  const change = { history: lib.newHistory(), oldHistory: files.history.file };
  if (lib.x.web_number() === 1)
    for (let count = 1; !change.setAside; count++) {
      lib.x.web_set_aside_name(count);
      const setAside = JSON.parse(lib.text());
      const { error } = await find(folder, setAside.inFolder);
      if (error?.name === 'NotFoundError') change.setAside = setAside;
      // A file or a folder takes the name; the page can't tell otherwise.
      else if (error && error.name !== 'TypeMismatchError')
        throw failed(lib.vorandel('MARK_WRITE_FAILED', { name: setAside.name, error: windowsError(error) }));
    }
  if (change.setAside) {
    lib.x.web_set_aside_line();
    change.setAside.line = lib.lines();
  }
  lib.x.web_mark_text();
  change.mark = lib.textBytes();
  return change;
}

// Vorandel's run, step by step, on a folder the player picked, with Windows'
// rules for the level name and the names the library gives. The level's mods
// are listed once the run ends, where it knows how the level stands.
async function applyToFolder(job, root, mergeFile) {
  const { lib, say } = job;
  job.root = root;
  const merge = await load(job, mergeFile, mergeFile.name);
  const path = levelName(lib, merge, mergeFile.size, 'WINDOWS');
  const names = lib.runNames(merge);
  const folder = folderOf(root, names.folderParts);
  folder.catch(() => {}); // said in its turn, by the file that isn't found
  // The level is found first, and quietly: all that decides whether to merge
  // at all comes before the backup is touched.
  const files = { level: await find(folder, names.inFolder.level) };
  let { level, backup } = await actOnMark(job, names, folder, files);
  const backingUp = () => say(lib.vorandel('BACKING_UP', { name: names.level, other: names.backup }));
  if (files.level.error) {
    backingUp();
    throw copyFailed(lib, names, files.level.error);
  }
  const { handle, file } = files.level;
  if (!level) {
    if (file.size > FILE_MAX) {
      backingUp();
      throw job.voice.tooLarge(lib, names.level); // before any backup
    }
    try {
      level = { at: await readInto(job, file, names.level), size: file.size };
    } catch (error) {
      backingUp();
      throw copyFailed(lib, names, error);
    }
  }
  backup ??= await backupToJudge(job, merge, mergeFile.size, level, names, folder, files);
  const history = await historyOf(job, names, folder, files);
  job.progress(`checking ${names.level}`, 0, 0);
  job.listed = path;
  const fault = judge(job, merge, mergeFile.size, level, backup, history);
  const change = fault ? null : await mergeChange(job, merge, mergeFile, level, names, folder, files);
  // The merged level is made while the browser copies the level's file; what
  // goes wrong with it is said in its turn, after the backup's outcome.
  const writeFailed = (error) =>
    failed(lib.vorandel('WRITE_FAILED', { name: names.level, error: windowsError(error) }));
  let merged = null;
  const makeMerged = () => {
    try {
      merged = fault ? null : mergedLevel(lib, merge, mergeFile.size, level, writeFailed);
    } catch (error) {
      merged = { error };
    }
  };
  job.listed = null; // the files are no longer as the job found them
  await backUp(job, names, folder, file, makeMerged);
  if (fault) throw failed(fault);
  if (merged.error) throw merged.error;
  const { at, size } = merged;
  const done = lib.vorandel('DONE');
  await changeLevel(job, names, folder, handle, { ...change, level: () => lib.view(at, size) });
  lib.x.web_change_made();
  job.listed = path;
  say(done);
}

// The level given by its path from the data folder, as mrgtool mods, remove
// and original take it: its names, as mrgtool gives them, and its folder,
// which mrgtool enters first.
async function levelOf(job, root, path) {
  const { lib } = job;
  const taken = lib.x.web_level_names(lib.string(path));
  if (taken === lib.is('LevelPath', 'NAME_REFUSED')) throw failed(lib.lines());
  if (taken !== lib.is('LevelPath', 'TAKEN'))
    throw failed([`${path}: the page reaches only the files inside the data folder. Give the `
      + 'level\'s path from there, as its merge file names it.'], LINE.PAGE);
  const names = JSON.parse(lib.text());
  try {
    return { names, folder: await folderOf(root, names.folderParts, 2) };
  } catch (error) {
    throw failed(lib.mrgtool('CANT_OPEN', { name: names.folder, error: windowsError(error) }));
  }
}

// mrgtool mods on the level `path` of the data folder: its list, drawn by the
// page under the Apply form, with its mods' names for their Remove buttons:
// each as a string of one character per byte, as the library gives it back,
// and as shown.
async function mods(job, root, path) {
  const { lib } = job;
  const { names, folder } = await levelOf(job, root, path);
  const found = await find(folder, names.inFolder.level);
  if (found.error) throw job.voice.readFailed(lib, names.level, found.error);
  const level = await load(job, found.file, names.level);
  const history = await loaded(job, await find(folder, names.inFolder.history), names.history);
  if (!lib.x.web_mods(level, found.file.size, ...Library.fileArgs(history)))
    throw failed(lib.lines());
  postMods(lib, path);
}

// The list the library last made of the level `path`, for the page to draw.
function postMods(lib, path) {
  const text = lib.text();
  const bytesOf = (name) => Uint8Array.from(name, (c) => c.charCodeAt(0));
  const list = JSON.parse(decode(lib.bytes())).mods.map(({ name }) =>
    ({ name, shown: decode(bytesOf(name)) }));
  post({ type: REPLY.MODS, level: path, text, mods: list, removable: lib.x.web_number() === 1 });
}

// At the end of a run on a level, the level's mods as mrgtool mods would list
// them from the level's path, by what the run knows of the level and its
// history: as it found them, where it touched nothing, or as it left them,
// once its change is in. Nothing where it can't know (it stopped midway).
function listKnown({ lib, listed }) {
  if (!lib || listed === null) return;
  try {
    if (lib.x.web_level_names(lib.string(listed)) === lib.is('LevelPath', 'TAKEN')
      && lib.x.web_mods_now()) postMods(lib, listed);
  } catch {
    // The list is the page's addition: the run's outcome stands.
  }
}

// The first mod of the name `name` taken out of the level `path` of the data
// folder, as mrgtool remove does; or with `name` null every mod, as mrgtool
// original does. Each is a run that changes the level as Vorandel's does:
// the mark acted on first, then the same backup, history, mark and commit.
// The level's mods are listed once the run ends, where it knows how the
// level stands.
async function remove(job, root, path, name) {
  const { lib, say } = job;
  job.root = root;
  const { names, folder } = await levelOf(job, root, path);
  const files = { level: await find(folder, names.inFolder.level) };
  let { level } = await actOnMark(job, names, folder, files);
  if (files.level.error) throw job.voice.readFailed(lib, names.level, files.level.error);
  level ??= { at: await load(job, files.level.file, names.level), size: files.level.file.size };
  const history = await historyOf(job, names, folder, files);
  const removed = lib.x.web_remove(level.at, level.size, ...Library.fileArgs(history),
    name === null ? 0 : lib.latin1(name), name === null);
  const said = lib.lines();
  job.listed = path;
  if (removed === lib.is('Removed', 'NOTHING_IN')) {
    say(said);
    return;
  }
  if (removed !== lib.is('Removed', 'REMOVED')) throw failed(said);
  const [at, size] = [lib.x.web_bytes() >>> 0, lib.x.web_bytes_size() >>> 0];
  lib.x.web_mark_text();
  const change = { history: lib.newHistory(), mark: lib.textBytes(), level: () => lib.view(at, size) };
  job.listed = null; // the files are no longer as the job found them
  await backUp(job, names, folder, files.level.file);
  await changeLevel(job, names, folder, files.level.handle, change);
  lib.x.web_change_made();
  job.listed = path;
  say(said);
}

// mrgtool apply's pack, a merge file a level: every part's merge file read
// and its level name checked, each line of a part that can't be "PART: " and
// Vorandel's; a part the pack can't take refused in the page's words. Gives
// the parts, each with its merge file and names; the pack's name is the
// first merge file's, as mrgtool's where the merge files share no folder.
async function packParts(job, mergeFiles) {
  const { lib, say } = job;
  lib.x.web_pack_start(lib.string(mergeFiles[0].name), Math.floor(Date.now() / 1000));
  const parts = [];
  let every = true;
  for (const [id, file] of mergeFiles.entries()) {
    try {
      const at = await load(job, file, file.name);
      levelName(lib, at, file.size, 'WINDOWS');
      parts.push({ id, file, at, names: lib.runNames(at) });
      lib.x.web_pack_part(at, file.size);
    } catch (error) {
      if (!(error instanceof Failure)) throw error;
      for (const { text, kind } of error.lines)
        say(kind === LINE.PAGE ? text : ofPart(lib, file, text), kind);
      every = false;
    }
  }
  if (!every) throw packRefused(lib);
  for (const [index, part] of parts.entries()) {
    const other = parts.slice(0, index).find((one) => one.names.key === part.names.key);
    if (other) throw failed([`${other.file.name} and ${part.file.name} both change `
      + `${part.names.level}: the page puts in one merge file a level. Use mrgtool apply, which `
      + 'puts them in one after the other.'], LINE.PAGE);
  }
  return parts;
}

// Vorandel's line about the part `file`, as mrgtool apply says it.
const ofPart = (lib, file, line) => {
  lib.x.web_of_part(lib.string(file.name), lib.string(line));
  return lib.text();
};

// The pack's line `id` (a PackSays name), for `count` levels.
const packSays = (lib, id, count = 0) => {
  lib.x.web_pack_says(lib.is('PackSays', id), count);
  return lib.lines();
};
const packRefused = (lib) => failed(packSays(lib, 'REFUSED'));

// Each part's verdict on its level as read (part.level, part.backup,
// part.history), as mrgtool apply gives it: a part whose level holds it
// already is said and left; one that can't go in is said and refuses the
// pack; one that goes in is kept for it (web_pack_keep). Gives the parts
// that go in, in the order of their levels' locks, with the pack's journal.
function judgePack(job, parts) {
  const { lib, say } = job;
  let every = true;
  const going = [];
  for (const part of parts) {
    const { file, at, level, backup, history } = part;
    lib.runNames(at);
    const judged = lib.x.web_judge(at, file.size, level.at, level.size, backup?.at ?? 0,
      backup?.size ?? 0, ...Library.fileArgs(history));
    const is = (name) => judged === lib.is('Judged', name);
    if (is('GO_ON') || is('OVER_MODS')) {
      lib.x.web_pack_keep(going.push(part) - 1, lib.string(file.name), at, file.size,
        level.at, level.size);
      continue;
    }
    say(lib.lines().map((line) => ofPart(lib, file, line)), is('DONE_ALREADY') ? LINE.OUT : LINE.FAILED);
    every &&= is('DONE_ALREADY');
  }
  if (!every) throw packRefused(lib);
  if (going.length === 0) {
    say(packSays(lib, 'ALREADY_IN'));
    throw new Stop();
  }
  lib.x.web_pack_journal();
  const { order, ...journal } = JSON.parse(lib.text());
  return { going: order.map((id) => going[id]), journal, journalBytes: lib.bytes() };
}

// The merged level of each part that goes in, made before anything is
// written, as mrgtool apply makes them.
function mergePack(lib, going, noMemory) {
  for (const part of going)
    part.merged = mergedLevel(lib, part.at, part.file.size, part.level, noMemory);
}

// mrgtool apply A.mrg B.mrg ... on a folder the player picked, a merge file a
// level: every part's verdict before any file is touched; then every level
// backed up, the pack's journal beside the first level in the order of their
// locks, every level marked (each mark naming the journal) and rewritten, the
// journal deleted: the pack's commit; and each level's history put in place,
// its mark gone. A level that can't be written puts back the ones written
// before it from memory, and nothing of the pack stays.
async function applyPackToFolder(job, root, mergeFiles) {
  const { lib, say } = job;
  job.root = root;
  const parts = await packParts(job, mergeFiles);
  // Every level as it stands, a stopped run's mark acted on first.
  for (const part of parts) {
    const { names } = part;
    lib.runNames(part.at);
    part.folder = folderOf(root, names.folderParts);
    part.folder.catch(() => {}); // said in its turn
    part.files = { level: await find(part.folder, names.inFolder.level) };
    ({ level: part.level, backup: part.backup } = await actOnMark(job, names, part.folder, part.files));
    if (part.files.level.error) continue;
    if (!part.level) {
      if (part.files.level.file.size > FILE_MAX) throw job.voice.tooLarge(lib, names.level);
      try {
        part.level = { at: await readInto(job, part.files.level.file, names.level),
          size: part.files.level.file.size };
      } catch (error) {
        part.unread = lib.vorandel('READ_FAILED', { error: windowsError(error) });
        continue;
      }
    }
    part.history = await historyOf(job, names, part.folder, part.files);
  }
  // What keeps a level from being judged, said for its part.
  let every = true;
  for (const part of parts) {
    const { names, files, history } = part;
    let line = part.unread ?? (files.level.error && lib.vorandel('FILE_NOT_FOUND', { name: names.level }));
    if (history?.state === lib.is('FileState', 'UNREADABLE'))
      line = lib.vorandel('HISTORY_UNREADABLE', { name: names.history, error: history.error });
    if (!line) continue;
    say(line.map((text) => ofPart(lib, part.file, text)), LINE.FAILED);
    every = false;
  }
  if (!every) throw packRefused(lib);
  for (const part of parts)
    part.backup ??= await backupToJudge(job, part.at, part.file.size, part.level, part.names,
      part.folder, part.files);
  job.progress('checking the levels', 0, 0);
  const { going, journal, journalBytes } = judgePack(job, parts);
  const writeFailed = (names) => (error) =>
    failed(lib.vorandel('WRITE_FAILED', { name: names.level, error: windowsError(error) }));
  for (const [index, part] of going.entries()) {
    if (!lib.x.web_pack_change(index)) throw failed(lib.lines());
    part.change = await changeOf(job, part.folder, part.files);
    part.merged = mergedLevel(lib, part.at, part.file.size, part.level, writeFailed(part.names));
  }
  for (const part of going) await backUp(job, part.names, part.folder, part.files.level.file);
  const journalDir = await going[0].folder;
  try {
    await put(job, journalDir, journal.inFolder, journal.name, journalBytes);
  } catch (error) {
    await quietly(gone(journalDir, journal.inFolder));
    throw failed(lib.vorandel('MARK_WRITE_FAILED', { name: journal.name, error: windowsError(error) }));
  }
  // Nothing of the pack is left where it goes no further.
  const undo = async (count) => {
    for (const part of going.slice(0, count)) await unmark(part.names, await part.folder);
    await quietly(gone(journalDir, journal.inFolder));
  };
  for (const [index, part] of going.entries()) {
    try {
      await markLevel(job, part.names, await part.folder, part.files.level.handle, part.change);
    } catch (error) {
      await undo(index);
      throw error;
    }
  }
  for (const [index, part] of going.entries()) {
    const { at, size } = part.merged;
    try {
      await writeWhole(job, part.files.level.handle, lib.view(at, size), part.names.level);
    } catch (error) {
      const lines = lib.vorandel('WRITE_FAILED', { name: part.names.level, error: windowsError(error) });
      try {
        for (const done of going.slice(0, index))
          await writeWhole(job, done.files.level.handle, lib.view(done.level.at, done.level.size),
            done.names.level);
      } catch {
        throw failed([...lines, ...lib.vorandel('PACK_IN_PIECES', { name: mergeFiles[0].name,
          other: journal.name })]);
      }
      await undo(going.length);
      throw failed([...lines, ...lib.vorandel('PACK_UNCHANGED', { name: mergeFiles[0].name })]);
    }
  }
  // The pack counts once its journal is gone.
  try {
    await journalDir.removeEntry(journal.inFolder);
  } catch (error) {
    throw failed(lib.vorandel('PACK_JOURNAL_KEPT', { name: journal.name,
      other: mergeFiles[0].name, error: windowsError(error) }));
  }
  let kept = null;
  for (const part of going) {
    lib.runNames(part.at);
    try {
      await commitLevel(job, part.names, await part.folder, part.change);
    } catch (error) {
      say(error.lines.map(({ text }) => text), LINE.FAILED);
      kept = error;
    }
  }
  if (kept) throw failed([]);
  say(packSays(lib, 'PUT_IN', going.length));
}

// Where the page has no folder to write into: the merged level is downloaded
// and the picked level, untouched, is the backup. There is no other backup
// to judge a merge file without a record by.
async function applyToDownload(job, levelFile, mergeFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  levelName(lib, merge, mergeFile.size, 'WINDOWS');
  const names = lib.runNames(merge);
  const base = names.inFolder.level;
  if (levelFile.name.toLowerCase() !== base.toLowerCase())
    say(`The merge file is for ${names.level}, and the level chosen is named ${levelFile.name}: `
      + 'make sure it is that level.', LINE.NOTE);
  const level = { at: await load(job, levelFile, levelFile.name), size: levelFile.size };
  job.progress(`checking ${levelFile.name}`, 0, 0);
  const fault = judge(job, merge, mergeFile.size, level, null);
  say(lib.vorandel('PROCESSING', { name: names.level }));
  if (fault) throw failed(fault);
  const noMemory = () => failed(lib.vorandel('READ_FAILED', { error: 8 }));
  const { at, size } = mergedLevel(lib, merge, mergeFile.size, level, noMemory);
  const bytes = lib.view(at, size).slice();
  say(lib.vorandel('DONE'));
  post({ type: REPLY.DOWNLOAD, name: base, bytes }, [bytes.buffer]);
}

// A pack where the page has no folder: each part with the level picked whose
// file name is its level's (Windows' rule: case aside), all judged before
// any is merged, as mrgtool apply judges them, but with no backup or history
// to judge by. Nothing is downloaded unless every part goes in or is in
// already; then each merged level is, and the page says that all of them go
// in place together.
async function applyPackToDownload(job, levelFiles, mergeFiles) {
  const { lib, say } = job;
  const parts = await packParts(job, mergeFiles);
  const missing = { state: lib.is('FileState', 'MISSING'), error: 0, at: 0, size: 0 };
  for (const part of parts) {
    const base = part.names.inFolder.level.toLowerCase();
    const chosen = levelFiles.find((file) => file.name.toLowerCase() === base);
    if (!chosen) throw failed([`${part.file.name} is for ${part.names.level}, and no level chosen `
      + `is named ${part.names.inFolder.level}: choose it too, with the others.`], LINE.PAGE);
    part.level = { at: await load(job, chosen, chosen.name), size: chosen.size };
    part.history = missing;
  }
  job.progress('checking the levels', 0, 0);
  const { going } = judgePack(job, parts);
  const noMemory = () => failed(lib.vorandel('READ_FAILED', { error: 8 }));
  for (const part of going) {
    say(lib.vorandel('PROCESSING', { name: part.names.level }));
    part.merged = mergedLevel(lib, part.at, part.file.size, part.level, noMemory);
  }
  say(packSays(lib, 'PUT_IN', going.length));
  say(`Put all ${going.length} downloaded levels in place of the ones you chose, together: the `
    + 'pack works only whole. Keep the levels you chose: they are your backups.', LINE.NOTE);
  for (const part of going) {
    const bytes = lib.view(part.merged.at, part.merged.size).slice();
    post({ type: REPLY.DOWNLOAD, name: part.names.inFolder.level, bytes }, [bytes.buffer]);
  }
}

// mrgtool make, writing to a download instead of a file. The name is judged,
// and its warnings given, before the files are read, as mrgtool does.
async function make(job, original, modified, wantedName) {
  const { lib, say } = job;
  lib.x.web_default_name(lib.string(original.name));
  const name = wantedName || lib.text();
  if (lib.x.web_name_fault(lib.string(name)))
    throw failed(lib.mrgtool(wantedName ? 'NAME_REFUSED' : 'NAME_REFUSED_FIELD',
      { name, other: lib.text() }));
  if (!lib.x.web_plain_ascii(lib.string(name)))
    say(lib.mrgtool('NAME_NOT_ASCII', { name }), LINE.WARNING);
  if (!lib.x.web_has_room_for_record(lib.string(name)))
    say(lib.mrgtool('NO_ROOM_FOR_RECORD', { name }), LINE.WARNING);
  const base = name.split(/[\\/]/).at(-1);
  const outName = `${base.includes('.') ? base.slice(0, base.lastIndexOf('.')) : base}.mrg`;
  const a = await load(job, original, original.name);
  const b = await load(job, modified, modified.name);
  job.progress('comparing', 0, 1);
  const outcome = lib.x.web_make(a, original.size, b, modified.size, lib.string(name),
    lib.string(outName));
  if (outcome === lib.is('MakeOutcome', 'FILE_TOO_LARGE')) throw failed(lib.mrgtool('MERGE_TOO_LARGE'));
  if (outcome === lib.is('MakeOutcome', 'NOT_REPRODUCED'))
    throw failed(lib.mrgtool('NOT_REPRODUCED', { name: original.name, other: modified.name }));
  const written = lib.text().trimEnd();
  const bytes = lib.bytes();
  say(written);
  post({ type: REPLY.DOWNLOAD, name: outName, bytes }, [bytes.buffer]);
}

// mrgtool check, with both systems' rules for the name, which is judged
// before the level is read, as mrgtool does, and Vorandel's verdict on the
// level: its lines are on mrgtool's output. No backup: check takes a merge
// file and a level.
async function check(job, mergeFile, levelFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  levelName(lib, merge, mergeFile.size, 'BOTH');
  const level = await load(job, levelFile, levelFile.name);
  job.progress(`checking ${levelFile.name}`, 0, 0);
  const outcome = lib.x.web_check(merge, mergeFile.size, level, levelFile.size, 0, 0,
    lib.string(mergeFile.name), lib.string(levelFile.name));
  if (![lib.is('CheckOutcome', 'APPLIES'), lib.is('CheckOutcome', 'ALREADY_MERGED')].includes(outcome))
    throw failed(lib.lines());
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
  [JOB.MODS]: [mods, VOICES.mrgtool],
  [JOB.REMOVE]: [remove, VOICES.vorandel],
  [JOB.APPLY_TO_DOWNLOAD]: [applyToDownload, VOICES.vorandel],
  [JOB.APPLY_PACK_TO_FOLDER]: [applyPackToFolder, VOICES.vorandel],
  [JOB.APPLY_PACK_TO_DOWNLOAD]: [applyPackToDownload, VOICES.vorandel],
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
  // `listed`: the path of a level whose mods the job can list at its end.
  const running = { voice, say, progress, listed: null };
  let ok = true;
  try {
    running.lib = await Library.start(await module, diffProgress);
    await run(running, ...args);
  } catch (error) {
    ok = error instanceof Stop;
    if (!ok) for (const line of linesOf(error)) post({ type: REPLY.LINE, ...line });
  }
  listKnown(running);
  post({ type: REPLY.END, ok });
};
