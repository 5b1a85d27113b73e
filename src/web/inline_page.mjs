// Writes vorandel.html, the page in one file: index.html with vorandel.js as
// its inline module, and mergefile.wasm in base64 inside that module. Opened
// from disk, a browser loads no file beside a page; this one needs none.
//
//   node inline_page.mjs FOLDER   (FOLDER holds the three files, and gets the page)
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

const wasm = "const WASM_BASE64 = '';";
const script = replaceOnce(read('vorandel.js').toString(), wasm,
  `const WASM_BASE64 = '${read('mergefile.wasm').toString('base64')}';`, 'vorandel.js');
// Inside <script>, "</script" would end the script and "<!--" change how it is read.
if (/<\/script|<!--/i.test(script)) fail('vorandel.js holds </script or <!--: it can\'t be inlined');
const tag = '<script type="module" id="vorandel-module"';
const page = replaceOnce(read('index.html').toString(), `${tag} src="vorandel.js"></script>`,
  `${tag}>\n${script}</script>`, 'index.html');
fs.writeFileSync(path.join(folder, 'vorandel.html'), page);
console.log(`vorandel.html: ${Buffer.byteLength(page).toLocaleString('en')} bytes`);
