'use strict';
// The messages between the page (page.js) and its worker (worker.js): the one
// thing the two share. A classic script, since the worker is a classic one:
// index.html loads it before the page's module, the worker through
// importScripts, and vorandel.html holds it inline for both.
//
// The page posts { job, args }, job one of JOB; the worker answers each job
// with messages whose `type` is one of REPLY, the last of them END.
self.VorandelProtocol = Object.freeze({
  JOB: Object.freeze({
    APPLY_TO_FOLDER: 'applyToFolder', // (folder handle, merge File)
    APPLY_TO_DOWNLOAD: 'applyToDownload', // (level File, merge File)
    APPLY_PACK_TO_FOLDER: 'applyPackToFolder', // (folder handle, [merge File]): a pack
    APPLY_PACK_TO_DOWNLOAD: 'applyPackToDownload', // ([level File], [merge File]): a pack
    MAKE: 'make', // (original level File, modded level File, level name or '')
    CHECK: 'check', // (merge File, level File)
    SHOW: 'show', // (merge File)
    MODS: 'mods', // (folder handle, the level's path from it)
    REMOVE: 'remove', // (folder handle, the level's path, the mod's name, or null for every mod)
  }),
  REPLY: Object.freeze({
    READY: 'ready', // the WebAssembly is compiled: jobs can run
    BROKEN: 'broken', // { why }: it can't be had, and no job can run
    LINE: 'line', // { text, kind }: one line of the log, kind one of LINE
    PROGRESS: 'progress', // { label, done, total }: total 0 when unknown
    DOWNLOAD: 'download', // { name, bytes }: a file for the player to save
    SHOW: 'show', // { head, rows, actions, stride }: show's table and numbers
    MODS: 'mods', // { level, text, mods: [{ name, shown }], removable }: a level's mods,
    // from a list, or at the end of a run on the level
    END: 'end', // { ok }: the job is over, ok unless it failed
  }),
  // How a line of the log reads: the tool's output, its warning, its message
  // that ends the job, or the page's own words: its limits and faults, and
  // its notes beside the tool's lines.
  LINE: Object.freeze({ OUT: 'out', WARNING: 'warning', FAILED: 'failed', PAGE: 'page',
    NOTE: 'note' }),
});
