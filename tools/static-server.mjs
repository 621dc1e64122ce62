// Serves the reference point-of-sale page (web/), the client library it is built on
// (clients/js/src/ under /tef-client/) and the browser libraries it loads from node_modules
// (/vendor/), over HTTPS when given a certificate, for the demo and the browser test.
//
//   node tools/static-server.mjs --port N [--host H] [--cert cert.pem --key key.pem]
//
// Importable too: startStaticServer({ port, host, cert, key }) resolves to { url, port, close() }.
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const WEB_ROOT = fileURLToPath(new URL('../web/', import.meta.url));

// Folders served as they are, each under its own path prefix; the page loads the client library's
// ES modules straight from the package's folder, with no bundler in between. The first prefix a
// path starts with wins.
const ROOTS = [
  ['/tef-client/', fileURLToPath(new URL('../clients/js/src/', import.meta.url))],
  ['/', WEB_ROOT],
];

// The only files served outside web/: each name under /vendor/ maps to one file of a package.
const VENDOR = {
  'qrcode-generator.js': () => fileURLToPath(import.meta.resolve('qrcode-generator')),
};

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.ico': 'image/x-icon',
  '.txt': 'text/plain; charset=utf-8',
};

// The page talks only to its own origin and to the service's WebSocket; the QR code is a data
// image. No referrer is sent, because the page's address carries the session token.
const HEADERS = {
  'Cache-Control': 'no-store',
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Content-Security-Policy': "default-src 'self'; connect-src 'self' wss: ws:; img-src 'self' data:; "
    + "object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
};

// Maps a request path to a file inside one of the served folders (or a vendor file), or null. The
// decoded path is resolved and must stay inside its folder after symbolic links are followed, so
// that "..", encoded dots or a link cannot reach any other file.
function resolveFile(pathname) {
  let decoded;
  try {
    decoded = decodeURIComponent(pathname);
  } catch {
    return null;
  }
  if (decoded.includes('\0') || decoded.includes('\\')) return null;
  const vendor = /^\/vendor\/([^/]+)$/.exec(decoded);
  if (vendor) return Object.hasOwn(VENDOR, vendor[1]) ? VENDOR[vendor[1]]() : null;
  if (decoded === '/') return path.join(WEB_ROOT, 'index.html');
  const [prefix, folder] = ROOTS.find(([start]) => decoded.startsWith(start));
  const candidate = path.resolve(folder, decoded.slice(prefix.length).replace(/^\/+/, ''));
  try {
    const real = fs.realpathSync(candidate);
    const root = fs.realpathSync(folder);
    if (!real.startsWith(root + path.sep)) return null;
    return fs.statSync(real).isFile() ? real : null;
  } catch {
    return null;
  }
}

function answer(response, status, text, extra = {}) {
  response.writeHead(status, { ...HEADERS, 'Content-Type': 'text/plain; charset=utf-8', ...extra });
  response.end(text);
}

function handle(request, response) {
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    answer(response, 405, 'Method Not Allowed\n', { Allow: 'GET, HEAD' });
    return;
  }
  const pathname = String(request.url).split(/[?#]/)[0];
  if (!pathname.startsWith('/')) {
    answer(response, 400, 'Bad Request\n');
    return;
  }
  const file = resolveFile(pathname);
  if (!file) {
    answer(response, 404, 'Not Found\n');
    return;
  }
  const size = fs.statSync(file).size;
  response.writeHead(200, {
    ...HEADERS,
    'Content-Type': TYPES[path.extname(file).toLowerCase()] ?? 'application/octet-stream',
    'Content-Length': size,
  });
  if (request.method === 'HEAD') {
    response.end();
    return;
  }
  fs.createReadStream(file).on('error', () => response.destroy()).pipe(response);
}

// Starts the server; with both cert and key (PEM file paths) it speaks HTTPS.
export async function startStaticServer({ port = 0, host = '127.0.0.1', cert, key } = {}) {
  const secure = Boolean(cert && key);
  const server = secure
    ? https.createServer({ cert: fs.readFileSync(cert), key: fs.readFileSync(key) }, handle)
    : http.createServer(handle);
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, resolve);
  });
  const actual = server.address().port;
  const shownHost = host.includes(':') ? `[${host}]` : host;
  return {
    url: `${secure ? 'https' : 'http'}://${shownHost}:${actual}/`,
    port: actual,
    close: () => new Promise((resolve) => {
      server.close(() => resolve());
      server.closeAllConnections();
    }),
  };
}

async function main() {
  const { values } = parseArgs({
    options: { port: { type: 'string', default: '8080' }, host: { type: 'string', default: '127.0.0.1' }, cert: { type: 'string' }, key: { type: 'string' } },
  });
  if (Boolean(values.cert) !== Boolean(values.key)) {
    console.error('static-server: --cert and --key go together');
    process.exit(2);
  }
  const port = Number.parseInt(values.port, 10);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`static-server: invalid --port ${values.port}`);
    process.exit(2);
  }
  const server = await startStaticServer({ port, host: values.host, cert: values.cert, key: values.key });
  console.log(`static-server: serving ${WEB_ROOT} at ${server.url}`);
  const stop = () => server.close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) {
  main().catch((error) => {
    console.error(`static-server: ${error.message}`);
    process.exit(1);
  });
}
