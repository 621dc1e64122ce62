// The tarball npm makes of clients/js, unpacked as an integrator receives it: the files it holds,
// its entry points as package.json declares them, no run-time dependency, and an example page
// that reaches nothing outside the package.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

const packageDir = new URL('../../clients/js/', import.meta.url).pathname;
let unpacked;
let work;

before(() => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'kelvora-client-pack-'));
  const [packed] = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', work], {
    cwd: packageDir, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'],
  }));
  execFileSync('tar', ['-xzf', path.join(work, packed.filename), '-C', work]);
  unpacked = path.join(work, 'package');
});

after(() => fs.rmSync(work, { recursive: true, force: true }));

function filesUnder(dir, prefix = '') {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => (entry.isDirectory()
    ? filesUnder(path.join(dir, entry.name), `${prefix}${entry.name}/`)
    : [`${prefix}${entry.name}`])).sort();
}

test('the tarball holds the library, its declarations, the example and the README only', () => {
  assert.deepEqual(filesUnder(unpacked), [
    'README.md', 'example/app.js', 'example/index.html', 'example/style.css', 'package.json',
    'src/catalogue.js', 'src/client.js', 'src/dialogue.js', 'src/errors.js', 'src/index.js', 'src/keys.js',
    'src/outcome.js', 'src/reconcile.js', 'src/socket.js',
    'types/index.d.ts',
  ]);
});

test('package.json: an ES module with declared types and nothing to install at run time', () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(unpacked, 'package.json'), 'utf8'));
  assert.equal(manifest.name, '@kelvora/tef-client');
  assert.equal(manifest.type, 'module');
  assert.equal(manifest.dependencies, undefined);
  const entry = manifest.exports['.'];
  assert.ok(fs.existsSync(path.join(unpacked, entry.types)));
  assert.ok(fs.existsSync(path.join(unpacked, entry.default)));
  assert.equal(manifest.types, entry.types);
});

test('the unpacked entry point exports exactly the values its declarations promise', async () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(unpacked, 'package.json'), 'utf8'));
  const library = await import(pathToFileURL(path.join(unpacked, manifest.exports['.'].default)).href);
  const declarations = fs.readFileSync(path.join(unpacked, manifest.exports['.'].types), 'utf8');
  const declared = [...declarations.matchAll(/^export (?:class|function|const) (\w+)/gm)].map((m) => m[1]);
  assert.deepEqual(Object.keys(library).sort(), declared.sort());
  assert.throws(() => new library.TefClient({ url: 'wss://localhost:8443' }), /getToken/);
});

test('the example page imports only files of the package', () => {
  const exampleDir = path.join(unpacked, 'example');
  for (const file of fs.readdirSync(exampleDir).filter((name) => /\.(js|html)$/.test(name))) {
    const text = fs.readFileSync(path.join(exampleDir, file), 'utf8');
    const targets = [...text.matchAll(/(?:from\s+|import\(|src=)['"]([^'"]+)['"]/g)].map((m) => m[1]);
    for (const target of targets) {
      assert.ok(target.startsWith('.'), `${file} imports ${target}, outside the package`);
      const resolved = path.resolve(exampleDir, target);
      assert.ok(resolved.startsWith(unpacked) && fs.existsSync(resolved), `${file}: ${target} is not in the tarball`);
    }
  }
});
