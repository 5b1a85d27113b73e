// Headless Chromium for the page's tests, and the page's apply run on an
// origin-private folder: shared by the web suite and the package test.
import { chromium } from 'playwright-core';

// fromDisk: pages opened from disk get an origin-private folder, which
// Chromium gives them only with --allow-file-access-from-files. That flag
// also lets such a page load the files beside it: test vorandel.html alone.
export const launch = (executablePath, { fromDisk = false } = {}) => chromium.launch({
  executablePath,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ...(fromDisk ? ['--allow-file-access-from-files'] : [])],
});

// A new origin-private folder holding `files` (name to Buffer; '/' makes
// folders), kept in the page as window.testFolders[id]; gives the id. Files
// cross the page as base64.
export const putFolder = (page, files) => page.evaluate(async (files) => {
  const bytesOf = (base64) => Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const root = await navigator.storage.getDirectory();
  const id = crypto.randomUUID();
  const dir = await root.getDirectoryHandle(id, { create: true });
  const put = async (at, name, bytes) => {
    const [first, ...rest] = name.split('/');
    if (rest.length) return put(await at.getDirectoryHandle(first, { create: true }), rest.join('/'), bytes);
    const writable = await (await at.getFileHandle(name, { create: true })).createWritable();
    await writable.write(bytesOf(bytes));
    await writable.close();
  };
  for (const [name, bytes] of Object.entries(files)) await put(dir, name, bytes);
  window.testFolders = { ...window.testFolders, [id]: dir };
  return id;
}, Object.fromEntries(Object.entries(files).map(([n, b]) => [n, b.toString('base64')])));

// The files of the folder `id`, name to Buffer.
export async function readFolder(page, id) {
  const got = await page.evaluate(async (id) => {
    const after = {};
    const walk = async (at, prefix) => {
      for await (const [name, handle] of at.entries())
        if (handle.kind === 'directory') await walk(handle, `${prefix}${name}/`);
        else {
          const reader = new FileReader();
          reader.readAsDataURL(await handle.getFile());
          await new Promise((resolve) => { reader.onload = resolve; });
          after[prefix + name] = reader.result.split(',')[1];
        }
    };
    await walk(window.testFolders[id], '');
    return after;
  }, id);
  return Object.fromEntries(Object.entries(got).map(([n, b]) => [n, Buffer.from(b, 'base64')]));
}

// Runs the page's apply on a new origin-private folder holding `files`, with
// `room` bytes of quota left if given (page.setQuota); `merge` is the merge
// file's bytes, named mod.mrg, or null for the file chosen in #apply-merge.
// Gives the log's lines, whether the job ended well, and the folder's files
// afterwards.
export async function applyInPage(page, files, merge, room) {
  const id = await putFolder(page, files);
  const { lines, ok } = await page.evaluate(async ([id, merge, room]) => {
    const file = merge === null ? document.getElementById('apply-merge').files[0]
      : new File([Uint8Array.from(atob(merge), (c) => c.charCodeAt(0))], 'mod.mrg');
    if (room) await window.setQuota((await navigator.storage.estimate()).usage + room);
    const done = await window.vorandel.applyToFolder(window.testFolders[id], file);
    if (room) await window.setQuota();
    return done;
  }, [id, merge?.toString('base64') ?? null, room]);
  return { lines, ok, after: await readFolder(page, id), id };
}
