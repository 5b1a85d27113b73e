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

// Runs the page's apply on a new origin-private folder holding `files` (name
// to Buffer), with `room` bytes of quota left if given (page.setQuota); gives
// the log's lines and the folder's files afterwards. Files cross the page as
// base64.
export async function applyInPage(page, files, merge, room) {
  const got = await page.evaluate(async ([files, merge, room]) => {
    const bytesOf = (base64) => Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const root = await navigator.storage.getDirectory();
    const dir = await root.getDirectoryHandle(crypto.randomUUID(), { create: true });
    const put = async (at, name, bytes) => {
      const [first, ...rest] = name.split('/');
      if (rest.length) return put(await at.getDirectoryHandle(first, { create: true }), rest.join('/'), bytes);
      const writable = await (await at.getFileHandle(name, { create: true })).createWritable();
      await writable.write(bytesOf(bytes));
      await writable.close();
    };
    for (const [name, bytes] of Object.entries(files)) await put(dir, name, bytes);
    if (room) await window.setQuota((await navigator.storage.estimate()).usage + room);
    const { lines } = await window.vorandel.applyToFolder(dir, new File([bytesOf(merge)], 'mod.mrg'));
    if (room) await window.setQuota();
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
    await walk(dir, '');
    return { lines, after };
  }, [Object.fromEntries(Object.entries(files).map(([n, b]) => [n, b.toString('base64')])),
    merge.toString('base64'), room]);
  const after = Object.fromEntries(Object.entries(got.after).map(([n, b]) => [n, Buffer.from(b, 'base64')]));
  return { lines: got.lines, after };
}
