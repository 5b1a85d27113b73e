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

  // Vorandel's message `id` (a MarkMessage name) on the mark beside the level
  // of `merge`, as lines.
  markSays(merge, id, error = 0) {
    this.x.web_mark_message(merge, this.is('MarkMessage', id), error);
    return this.lines();
  }

  // The names of a run on the level of `merge` (web_run_names).
  runNames(merge) {
    this.x.web_run_names(merge);
    return JSON.parse(this.text());
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
// (null where there is none): stops the job where Vorandel stops, with its
// line, a level already merged as a success; else gives the first faulty
// action's message, or null.
function judge(job, merge, mergeSize, level, backup) {
  const { lib, say } = job;
  const verdict = lib.x.web_judge(merge, mergeSize, level.at, level.size, backup?.at ?? 0,
    backup?.size ?? 0);
  const said = lib.text() === '' ? null : lib.lines();
  if (lib.x.web_number() !== 1) return said;
  if (verdict !== lib.is('LevelVerdict', 'ALREADY_MERGED')) throw failed(said);
  say(said);
  throw new Stop();
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
async function folderOf(root, parts) {
  let folder = root;
  for (const part of parts) {
    try {
      folder = await folder.getDirectoryHandle(part);
    } catch (error) {
      // A folder in the path that is missing or a file: error 3, as on Windows.
      const missing = ['NotFoundError', 'TypeMismatchError'].includes(error.name);
      throw missing ? { name: error.name, windowsError: 3 } : error;
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

// Vorandel's first step: where a run was stopped while it rewrote the level,
// its mark stands beside it, and the library decides: the mark goes, the
// level is put back from the backup, or nothing is touched. Gives the level
// and the backup where they were read. The page itself writes the level
// whole and leaves no mark.
async function actOnMark(job, merge, names, folder, files) {
  const { lib, say } = job;
  files.mark = await find(folder, names.inFolder.mark);
  if (isMissing(files.mark)) return {};
  files.backup = await find(folder, names.inFolder.backup);
  const mark = await loaded(job, files.mark, names.mark);
  const level = await loaded(job, files.level, names.level);
  const backup = await loaded(job, files.backup, names.backup);
  const plan = lib.x.web_decide_on_mark(merge, ...[mark, level, backup]
    .flatMap(({ state, error, at, size }) => [state, error, at, size]));
  const markGone = async () => (await folder).removeEntry(names.inFolder.mark);
  switch (plan) {
    case lib.is('MarkPlan', 'NOTHING'): return {};
    case lib.is('MarkPlan', 'REFUSE'): throw failed(lib.lines());
    case lib.is('MarkPlan', 'CLEAR_MARK'):
      await markGone().catch((error) => {
        throw failed(lib.markSays(merge, 'MERGED_MARK_KEPT', windowsError(error)));
      });
      return { level, backup: backup.state === lib.is('FileState', 'LOADED') ? backup : null };
    case lib.is('MarkPlan', 'KEEP_LEVEL'):
      await markGone().catch((error) => {
        throw failed(lib.markSays(merge, 'MARK_KEPT', windowsError(error)));
      });
      say(lib.markSays(merge, 'LEVEL_KEPT'));
      return {};
    case lib.is('MarkPlan', 'RESTORE'): break;
    default: throw new Error(`web_decide_on_mark gave ${plan}`);
  }
  try {
    const handle = files.level.handle
      ?? await (await folder).getFileHandle(names.inFolder.level, { create: true });
    await writeWhole(job, handle, lib.view(backup.at, backup.size), names.level);
    files.level = { handle, file: await handle.getFile() };
  } catch (error) {
    throw failed(lib.markSays(merge, 'RESTORE_FAILED', windowsError(error)));
  }
  const kept = await markGone().then(() => null, (error) => error);
  say(lib.markSays(merge, 'RESTORED'));
  if (kept) throw failed(lib.markSays(merge, 'MARK_KEPT', windowsError(kept)));
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

// Vorandel's run, step by step, on a folder the player picked, with Windows'
// rules for the level name and the names the library gives.
async function applyToFolder(job, root, mergeFile) {
  const { lib, say } = job;
  const merge = await load(job, mergeFile, mergeFile.name);
  levelName(lib, merge, mergeFile.size, 'WINDOWS');
  const names = lib.runNames(merge);
  const folder = folderOf(root, names.folderParts);
  folder.catch(() => {}); // said in its turn, by the file that isn't found
  // The level is found first, and quietly: all that decides whether to merge
  // at all comes before the backup is touched.
  const files = { level: await find(folder, names.inFolder.level) };
  let { level, backup } = await actOnMark(job, merge, names, folder, files);
  const copyFailed = (error) => failed(lib.vorandel('COPY_FAILED',
    { name: names.level, other: names.backup, error: windowsError(error) }));
  const backingUp = () => say(lib.vorandel('BACKING_UP', { name: names.level, other: names.backup }));
  if (files.level.error) {
    backingUp();
    throw copyFailed(files.level.error);
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
      throw copyFailed(error);
    }
  }
  backup ??= await backupToJudge(job, merge, mergeFile.size, level, names, folder, files);
  job.progress(`checking ${names.level}`, 0, 0);
  const fault = judge(job, merge, mergeFile.size, level, backup);
  backingUp();
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
  try {
    const backupHandle = await (await folder).getFileHandle(names.inFolder.backup, { create: true });
    await writeWhole(job, backupHandle, file, names.backup, makeMerged);
  } catch (error) {
    throw copyFailed(error);
  }
  say(lib.vorandel('PROCESSING', { name: names.level }));
  if (fault) throw failed(fault);
  if (merged.error) throw merged.error;
  const { at, size } = merged;
  const done = lib.vorandel('DONE');
  try {
    await writeWhole(job, handle, lib.view(at, size), names.level);
  } catch (error) {
    throw writeFailed(error);
  }
  say(done);
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
    await run({ lib, voice, say, progress }, ...args);
    post({ type: REPLY.END, ok: true });
  } catch (error) {
    if (error instanceof Stop) {
      post({ type: REPLY.END, ok: true });
      return;
    }
    for (const line of linesOf(error)) post({ type: REPLY.LINE, ...line });
    post({ type: REPLY.END, ok: false });
  }
};
