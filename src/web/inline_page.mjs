// Writes vorandel.html, the page in one file: index.html with protocol.js and
// page.js inlined, and the worker's text in the element #vorandel-worker, for
// the page to start through a Blob URL: worker.js with protocol.js in place
// of its importScripts line and mergefile.wasm in base64. Opened from disk, a
// browser loads no file beside a page; this one needs none.
//
//   node inline_page.mjs FOLDER   (FOLDER holds the served files, and gets the page)
import fs from 'node:fs';
import path from 'node:path';

const [folder] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(folder, name));
const fail = (why) => {
  console.error(`inline_page.mjs: ${why}`);
  process.exit(1);
};
// Each piece is put in exactly once, through a function: a replacement string
// would read `$&` and its kind in the code as patterns.
const replaceOnce = (text, piece, by, where) => {
  if (text.split(piece).length !== 2) fail(`${where} should hold ${piece} once`);
  return text.replace(piece, () => by);
};
// Inside <script>, "</script" would end the script and "<!--" change how it is read.
const inlinable = (text, where) => {
  if (/<\/script|<!--/i.test(text)) fail(`${where} holds </script or <!--: it can't be inlined`);
  return text;
};

const protocol = inlinable(read('protocol.js').toString(), 'protocol.js');
let worker = replaceOnce(read('worker.js').toString(), "importScripts('protocol.js');\n",
  protocol, 'worker.js');
worker = inlinable(replaceOnce(worker, "const WASM_BASE64 = '';",
  `const WASM_BASE64 = '${read('mergefile.wasm').toString('base64')}';`, 'worker.js'), 'worker.js');
const script = inlinable(read('page.js').toString(), 'page.js');
let page = replaceOnce(read('index.html').toString(), '<script src="protocol.js"></script>',
  `<script>\n${protocol}</script>`, 'index.html');
const tag = '<script type="module" id="vorandel-module"';
page = replaceOnce(page, `${tag} src="page.js"></script>`,
  `${tag}>\n${script}</script>\n<script type="text/plain" id="vorandel-worker">\n${worker}</script>`,
  'index.html');
fs.writeFileSync(path.join(folder, 'vorandel.html'), page);
console.log(`vorandel.html: ${Buffer.byteLength(page).toLocaleString('en')} bytes`);
