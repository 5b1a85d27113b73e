// Vorandel in the browser: the page's module, which draws the forms, the log
// and show's picture, and hands every job to its worker (worker.js), which
// runs the merge file library. The two share only the messages of
// protocol.js, which index.html loads before this module.
//
// Served, the worker is worker.js beside the page. In vorandel.html, the page
// in one file (inline_page.mjs), the worker's text is inlined in the element
// #vorandel-worker and started through a Blob URL: a page opened from disk
// may load no other file.
const { JOB, REPLY, LINE } = self.VorandelProtocol;

const $ = (id) => document.getElementById(id);

function newWorker() {
  const inline = $('vorandel-worker');
  if (!inline) return { worker: new Worker(new URL('worker.js', import.meta.url)) };
  const url = URL.createObjectURL(new Blob([inline.textContent], { type: 'text/javascript' }));
  return { worker: new Worker(url), url };
}

// A job that runs longer than this shows its progress bar; a shorter one
// would only make it flash.
const SLOW_JOB_MS = 1000;

const plural = (count, one) => `${count.toLocaleString('en')} ${one}${count === 1 ? '' : 's'}`;

function startPage() {
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
  let worker, workerUrl;
  try {
    ({ worker, url: workerUrl } = newWorker());
  } catch (error) {
    unusable(`This browser can't start the page's worker here (${error.message}), so nothing on `
      + 'the page can run.');
    worker = { postMessage() {} };
  }
  let ready = false;
  let running = null;

  // The log follows its last line within its own box; the page itself is
  // scrolled once, when the job ends.
  function logLine(text, kind) {
    const line = document.createElement('div');
    line.className = kind;
    line.textContent = text;
    $('log').append(line);
    $('log').scrollTop = $('log').scrollHeight;
    return line;
  }

  // The download starts from an object URL, revoked once the browser has
  // begun it, else it would hold the file until the page closes. The log's
  // link to save it again holds the latest file only.
  let lastDownload = null;
  function download({ name, bytes }) {
    const blob = new Blob([bytes]);
    const save = () => {
      const url = URL.createObjectURL(blob);
      Object.assign(document.createElement('a'), { href: url, download: name }).click();
      setTimeout(() => URL.revokeObjectURL(url), 1000);
    };
    lastDownload?.link.replaceWith(`Downloaded ${lastDownload.name}.`);
    const link = Object.assign(document.createElement('a'),
      { href: '#', textContent: `Download ${name} again` });
    link.onclick = (event) => {
      event.preventDefault();
      save();
    };
    lastDownload = { link, name };
    logLine('', 'note').append(link);
    save();
  }

  const onReply = {
    [REPLY.READY]: () => {
      ready = true;
      if (workerUrl) URL.revokeObjectURL(workerUrl);
    },
    [REPLY.BROKEN]: ({ why }) => unusable(`The page's WebAssembly can't be loaded (${why}), so `
      + 'nothing on the page can run.'),
    [REPLY.LINE]: ({ text, kind }) => {
      running.lines.push(text);
      logLine(text, kind);
    },
    [REPLY.PROGRESS]: ({ label, done, total }) => {
      $('progress-label').textContent = label;
      if (total > 0) $('progress').value = done / total;
      else $('progress').removeAttribute('value');
    },
    [REPLY.DOWNLOAD]: download,
    [REPLY.SHOW]: drawShow,
    [REPLY.MODS]: drawMods,
    [REPLY.END]: ({ ok }) => finish(ok),
  };
  worker.onmessage = ({ data }) => onReply[data.type](data);
  worker.onerror = (event) => {
    if (!ready)
      unusable(`This browser can't run the page's worker here${event.message ? ` (${event.message})` : ''}, `
        + 'so nothing on the page can run.');
    logLine(`The page's worker failed: ${event.message}`, LINE.PAGE);
    if (running) finish(false);
  };

  // The jobs on a folder's level, which list its mods at their end where
  // they can: else the list, which may no longer hold, is hidden.
  const LISTING = [JOB.APPLY_TO_FOLDER, JOB.APPLY_PACK_TO_FOLDER, JOB.MODS, JOB.REMOVE];

  // The job's result comes into view: the log, which ends with it, or Show's
  // picture and table; its command line keeps whether it ended well.
  function finish(ok) {
    const { command, resolve, lines, slow, view, job, listed } = running;
    clearTimeout(slow);
    command.dataset.ok = ok;
    if (LISTING.includes(job) && !listed) $('mods-panel').hidden = true;
    document.body.classList.remove('busy', 'slow');
    for (const button of document.querySelectorAll('button')) button.disabled = false;
    (view ?? $('console')).scrollIntoView({ block: 'nearest' });
    running = null;
    resolve({ ok, lines });
  }

  // One job at a time; `command` is what the same job is on the command line.
  // The progress bar shows only for a job that runs over about a second.
  function run(command, job, ...args) {
    if (running) return Promise.reject(new Error('a job is running'));
    const line = logLine(command, 'command');
    document.body.classList.add('busy');
    $('progress-label').textContent = 'starting';
    $('progress').value = 0;
    for (const button of document.querySelectorAll('button')) button.disabled = true;
    if (job === JOB.SHOW) $('show-panel').hidden = true;
    return new Promise((resolve) => {
      running = { command: line, resolve, lines: [], job, args,
        slow: setTimeout(() => document.body.classList.add('slow'), SLOW_JOB_MS) };
      worker.postMessage({ job, args });
    });
  }

  // A file, or a list of them, as a list; and their names, as on a command line.
  const filesOf = (files) => (files instanceof Blob ? [files] : [...files]);
  const names = (files) => files.map((file) => file.name).join(' ');

  // What the buttons do, and what the tests call.
  const page = {
    // `merge`: a merge file, or several (a pack), as mrgtool apply takes them.
    applyToFolder: (folder, merge) => {
      const merges = filesOf(merge);
      return merges.length === 1
        ? run(`${folder.name}> Vorandel ${merges[0].name}`, JOB.APPLY_TO_FOLDER, folder, merges[0])
        : run(`${folder.name}> mrgtool apply ${names(merges)}`, JOB.APPLY_PACK_TO_FOLDER, folder, merges);
    },
    // `level` and `merge`: a file each, or several, each merge file with the
    // level of its level's name.
    applyToDownload: (level, merge) => {
      const [levels, merges] = [filesOf(level), filesOf(merge)];
      return levels.length === 1 && merges.length === 1
        ? run(`> Vorandel ${merges[0].name}   (level: ${levels[0].name})`, JOB.APPLY_TO_DOWNLOAD,
          levels[0], merges[0])
        : run(`> mrgtool apply ${names(merges)}   (levels: ${names(levels)})`,
          JOB.APPLY_PACK_TO_DOWNLOAD, levels, merges);
    },
    make: (original, modified, name) =>
      run(`> mrgtool make ${original.name} ${modified.name}${name ? ` --name ${name}` : ''}`,
        JOB.MAKE, original, modified, name),
    check: (merge, level) =>
      run(`> mrgtool check ${merge.name} ${level.name}`, JOB.CHECK, merge, level),
    show: (merge) => run(`> mrgtool show ${merge.name}`, JOB.SHOW, merge),
    mods: (folder, level) => run(`${folder.name}> mrgtool mods ${level}`, JOB.MODS, folder, level),
    // `mod` as the list gives it: its name, a character per byte, and as shown.
    remove: (folder, level, mod) => run(`${folder.name}> mrgtool remove ${mod.shown} ${level}`,
      JOB.REMOVE, folder, level, mod.name),
    original: (folder, level) =>
      run(`${folder.name}> mrgtool original ${level}`, JOB.REMOVE, folder, level, null),
  };
  window.vorandel = page;

  // Runs `action` with the chosen files (or folder, or text), or says which
  // one is missing.
  const withFiles = (ids, action) => () => {
    const files = ids.map((id) => $(id).files?.[0] ?? $(id).handle
      ?? ($(id).type === 'text' ? $(id).value.trim() || undefined : undefined));
    const missing = ids.filter((id, i) => !files[i]);
    if (missing.length === 0) return action(...files);
    logLine(`Choose ${missing.map((id) => $(id).dataset.what).join(' and ')} first.`, 'note');
    $('console').scrollIntoView({ block: 'nearest' });
  };

  $('pick-folder').onclick = async () => {
    try {
      const handle = await showDirectoryPicker({ id: 'data', mode: 'readwrite' });
      Object.assign($('folder'), { handle, textContent: handle.name });
    } catch (error) {
      if (error.name !== 'AbortError') logLine(`No folder: ${error.message}`, 'note');
    }
  };
  // Every merge file chosen, and every level: a pack takes several.
  $('apply').onclick = canWriteFolders
    ? withFiles(['folder', 'apply-merge'], (folder) => page.applyToFolder(folder, $('apply-merge').files))
    : withFiles(['apply-level', 'apply-merge'], () =>
      page.applyToDownload($('apply-level').files, $('apply-merge').files));
  $('make').onclick = withFiles(['make-original', 'make-modified'], (a, b) =>
    page.make(a, b, $('make-name').value.trim()));
  $('check').onclick = withFiles(['check-merge', 'check-level'], page.check);
  $('list-mods').onclick = withFiles(['folder', 'mods-level'], page.mods);
  $('show').onclick = withFiles(['check-merge'], page.show);
  $('make-original').onchange = () => {
    $('make-name').placeholder = $('make-original').files[0]?.name ?? "the original level's file name";
  };

  // A level's mods, as mrgtool mods lists them, line by line: after its first
  // line, one line per mod, oldest first, each with its Remove button where
  // the mods can come out, and Back to the original below.
  function drawMods({ level, text, mods, removable }) {
    const folder = running.args[0];
    const lines = text.replace(/\n$/, '').split('\n');
    const line = (tag, said) => Object.assign(document.createElement(tag),
      { className: 'line', textContent: said });
    const items = document.createElement('ul');
    $('mods-list').replaceChildren(...lines.map((said, i) => {
      const mod = i >= 1 && i <= mods.length ? mods[i - 1] : null;
      if (!mod) return line('p', said);
      const item = document.createElement('li');
      item.append(line('span', said));
      if (removable) {
        const button = Object.assign(document.createElement('button'),
          { type: 'button', textContent: 'Remove', disabled: true, // until the job ends
            onclick: () => page.remove(folder, level, mod) });
        button.setAttribute('aria-label', `Remove ${mod.shown}`);
        item.append(button);
      }
      items.append(item);
      return i === 1 ? items : null;
    }).filter(Boolean));
    $('mods-level').value = level;
    $('original').hidden = !removable;
    $('original').onclick = () => page.original(folder, level);
    $('mods-panel').hidden = false;
    running.listed = true;
    logLine('The list is under Mods in a level.', 'note');
  }

  // Show's picture: the level as a bar, from 0 to the end of the last removed
  // range, each action at its offset; the keyboard and the pointer pick one,
  // and its row of the table is shown.
  let picture = null;
  const bar = $('show-bar');

  function drawShow({ head, rows, actions, stride }) {
    const count = actions.length / stride;
    const listed = rows.split('\n').slice(0, -1);
    let end = 1;
    for (let i = 0; i < actions.length; i += stride) end = Math.max(end, actions[i + 1] + actions[i + 2]);
    // Fields per action: record position, offset, removeLength, insertLength.
    const field = (index, at) => actions[index * stride + at];
    picture = { field, count, end, listed, columns: head.trimEnd().split('\n').at(-1), index: -1 };
    $('show-panel').hidden = false;
    $('show-table').textContent = head + rows +
      (count > listed.length ? `... and ${count - listed.length} more rows\n` : '');
    $('show-picture').hidden = count === 0;
    $('show-marker').hidden = true;
    bar.setAttribute('aria-valuemax', count);
    bar.setAttribute('aria-valuenow', 1);
    bar.setAttribute('aria-valuetext', 'No action chosen yet');
    $('show-row').textContent = count === 0 ? 'The merge file has no actions.'
      : 'Point at an action, or focus the bar and use the arrow keys, to see its row.';
    logLine('The picture and the table are below.', 'note');
    if (count > 0) drawBar();
    running.view = $('show-panel');
  }

  // Removed ranges are hatched on the bar, insertions are triangles below it
  // pointing at their place: told apart by shape and place, not colour alone.
  // Many actions share a pixel on a large level, so marks are gathered by column.
  function drawBar() {
    const { field, count, end } = picture;
    const ratio = window.devicePixelRatio || 1;
    const width = bar.clientWidth;
    bar.width = width * ratio;
    bar.height = bar.clientHeight * ratio;
    const g = bar.getContext('2d');
    g.scale(ratio, ratio);
    const x = (offset) => (offset / end) * width;
    const removed = new Uint8Array(width + 1);
    const inserted = new Uint8Array(width + 1);
    for (let i = 0; i < count; i++) {
      const from = Math.floor(x(field(i, 1)));
      const to = Math.max(from, Math.ceil(x(field(i, 1) + field(i, 2))) - 1);
      if (field(i, 2) > 0) removed.fill(1, from, to + 1);
      if (field(i, 3) > 0) inserted[from] = 1;
    }
    const tile = Object.assign(document.createElement('canvas'), { width: 6, height: 6 });
    const t = tile.getContext('2d');
    t.fillStyle = '#b3261e';
    t.fillRect(0, 0, 6, 6);
    t.strokeStyle = '#fff';
    t.lineWidth = 1.5;
    t.beginPath();
    t.moveTo(-1, 7);
    t.lineTo(7, -1);
    t.stroke();
    g.fillStyle = '#dde3ea';
    g.fillRect(0, 8, width, 24);
    g.fillStyle = g.createPattern(tile, 'repeat');
    for (let column = 0; column <= width; column++) if (removed[column]) g.fillRect(column, 8, 1, 24);
    g.fillStyle = '#1e7a45';
    for (let column = 0; column <= width; column++) {
      if (!inserted[column]) continue;
      g.beginPath();
      g.moveTo(column, 34);
      g.lineTo(column + 5, 44);
      g.lineTo(column - 5, 44);
      g.fill();
    }
    g.fillStyle = '#4a5361';
    g.font = '12px system-ui, sans-serif';
    g.fillText('0', 0, 60);
    // Show has no level: the bar ends where the last change does.
    const last = `byte ${end.toLocaleString('en')}, the last change's end`;
    g.fillText(last, width - g.measureText(last).width, 60);
    if (picture.index >= 0) choose(picture.index);
  }

  function choose(index) {
    const { field, count, end, listed, columns } = picture;
    picture.index = index;
    const [offset, remove, insert] = [field(index, 1), field(index, 2), field(index, 3)];
    $('show-marker').style.left = `${(offset / end) * bar.clientWidth}px`;
    $('show-marker').hidden = false;
    $('show-row').textContent = `${columns}\n${listed[index] ??
      `(action ${index + 1}: the page lists the first ${listed.length} rows)`}`;
    bar.setAttribute('aria-valuenow', index + 1);
    bar.setAttribute('aria-valuetext', `Action ${index + 1} of ${count}, at byte `
      + `${offset.toLocaleString('en')}: removes ${plural(remove, 'byte')}, inserts `
      + `${plural(insert, 'byte')}`);
  }

  const STEPS = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1, PageDown: 10,
    PageUp: -10, Home: -Infinity, End: Infinity };
  bar.onkeydown = (event) => {
    if (!picture?.count || !(event.key in STEPS)) return;
    event.preventDefault();
    const index = Math.min(picture.count - 1, Math.max(0, picture.index + STEPS[event.key]));
    choose(index);
  };
  bar.onfocus = () => picture?.count && picture.index < 0 && choose(0);

  // The action nearest to the pointer: the last one starting at or before
  // it, or the next one if that is closer.
  bar.onmousemove = (event) => {
    if (!picture?.count) return;
    const { field, count, end } = picture;
    const at = (event.offsetX / bar.clientWidth) * end;
    let low = 0;
    let high = count - 1;
    while (low < high) {
      const middle = Math.ceil((low + high) / 2);
      if (field(middle, 1) <= at) low = middle;
      else high = middle - 1;
    }
    const next = Math.min(low + 1, count - 1);
    choose(Math.abs(field(next, 1) - at) < Math.abs(field(low, 1) - at) ? next : low);
  };
  window.onresize = () => picture?.count && drawBar();
}

startPage();
