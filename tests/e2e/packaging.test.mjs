// The Debian package: built with cpack from the build tree, unpacked into a temporary root, and
// checked for its layout, its unit, its control data and what its maintainer scripts do there.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { promisify } from 'node:util';
import {
  buildDir, connectClient, exchange, freePort, openSession, startService,
} from './lib/index.mjs';

const run = promisify(execFile);
const BASE = 'var/lib/kelvora-tef';
const UNIT = 'usr/lib/systemd/system/KelvoraSiTefService.service';
const CERTIFICATES = ['ca_cert.pem', 'server_cert.pem', 'server_key.pem'];

let work;
let deb;

before(async () => {
  work = await fs.mkdtemp(path.join(os.tmpdir(), 'kelvora-package-'));
  // The maintainer scripts act as the stand-in service user inside it (see maintainerScript).
  await fs.chmod(work, 0o755);
  await run('cpack', ['-G', 'DEB', '-B', path.join(work, 'out'), '--config',
    path.join(buildDir, 'CPackConfig.cmake')], { maxBuffer: 1 << 24 });
  const built = (await fs.readdir(path.join(work, 'out'))).filter((name) => name.endsWith('.deb'));
  assert.equal(built.length, 1, `one package expected, found ${built}`);
  deb = path.join(work, 'out', built[0]);
});

after(async () => {
  if (work) await fs.rm(work, { recursive: true, force: true });
});

// A fresh copy of the package's files under a new root directory.
async function unpack(name) {
  const root = path.join(work, name);
  await fs.mkdir(root);
  await run('dpkg-deb', ['-x', deb, root]);
  return root;
}

async function field(name) {
  return (await run('dpkg-deb', ['-f', deb, name])).stdout.trim();
}

async function hasProgram(name) {
  return run('sh', ['-c', `command -v ${name}`]).then(() => true, () => false);
}
const canVerifyUnits = await hasProgram('systemd-analyze');

// The unit's settings as name -> list of values, in the order written.
function unitSettings(text) {
  const settings = new Map();
  for (const line of text.split('\n')) {
    const m = /^([A-Za-z]+)=(.*)$/.exec(line);
    if (m) settings.set(m[1], [...(settings.get(m[1]) ?? []), m[2]]);
  }
  return settings;
}

describe('package contents', () => {
  let root;
  before(async () => { root = await unpack('contents'); });

  // Read from the package's own listing, so the modes are the package's, not the unpacking umask's.
  test('places each file with its type, mode and owner', async () => {
    const entries = new Map();
    for (const line of (await run('dpkg-deb', ['-c', deb])).stdout.split('\n').filter(Boolean)) {
      const m = /^(\S+) (\S+) +\d+ \S+ \S+ \.\/(\S*?)\/?(?: -> (\S+))?$/.exec(line);
      assert.ok(m, line);
      entries.set(m[3], { mode: m[1], owner: m[2], target: m[4] });
    }
    const expected = [
      ['usr/lib/kelvora-tef/SvcKelvoraSiTef', '-rwxr-xr-x'],
      ['usr/lib/kelvora-tef/generate-certificates', '-rwxr-xr-x'],
      ['usr/lib/kelvora-tef/simulator/CliSiTef32I.dll', '-rw-r--r--'],
      ['usr/bin/kelvora-token', '-rwxr-xr-x'],
      [UNIT, '-rw-r--r--'],
      ['usr/lib/systemd/system-sleep/kelvora-tef', '-rwxr-xr-x'],
      ['etc/kelvora-tef/SvcKelvoraSiTef.ini', '-rw-r-----'],
      [`${BASE}/SvcKelvoraSiTef.ini`, 'lrwxrwxrwx'],
      [`${BASE}/dll`, 'drwxr-xr-x'],
      [`${BASE}/Certificado`, 'drwxr-xr-x'],
    ];
    for (const [file, mode] of expected) {
      assert.equal(entries.get(file)?.mode, mode, file);
      assert.equal(entries.get(file).owner, 'root/root', file);
    }
    assert.equal(entries.get(`${BASE}/SvcKelvoraSiTef.ini`).target, '/etc/kelvora-tef/SvcKelvoraSiTef.ini');
  });

  test('keeps the simulator out of the folder the service loads its library from', async () => {
    assert.deepEqual(await fs.readdir(path.join(root, BASE, 'dll')), []);
    const { stdout } = await run('dpkg-deb', ['-c', deb]);
    const libraries = stdout.split('\n').filter((line) => line.includes('CliSiTef32I.dll'));
    assert.equal(libraries.length, 1, libraries.join('\n'));
    assert.match(libraries[0], / \.\/usr\/lib\/kelvora-tef\/simulator\/CliSiTef32I\.dll$/);
  });

  test('ships stripped programs that still run and still carry their file versions', async () => {
    const notes = [
      ['usr/lib/kelvora-tef/SvcKelvoraSiTef', '31 2e 30 2e 30 2e 34 00'],
      ['usr/lib/kelvora-tef/simulator/CliSiTef32I.dll', '36 2e 32 2e 30 2e 31 2d 73 69 6d 00'],
    ];
    for (const [file, version] of notes) {
      const { stdout } = await run('readelf', ['-n', '-S', path.join(root, file)]);
      assert.doesNotMatch(stdout, /\.debug_info/, `${file} is not stripped`);
      assert.match(stdout, new RegExp(`description data: ${version}`), `${file} lost its version note`);
    }
    const usage = await run(path.join(root, 'usr/lib/kelvora-tef/SvcKelvoraSiTef'), ['--no-such-option'])
      .then(() => assert.fail('an unknown option must be refused'), (error) => error);
    assert.equal(usage.code, 2);
    assert.match(usage.stderr, /Kelvora TEF Server/);
    const token = await run(path.join(root, 'usr/bin/kelvora-token'), ['--builtin-secret', '--sale-id', '1']);
    assert.match(token.stdout, /^[\w-]+\.[\w-]+\.[\w-]+\n$/);
  });

  test('unit runs the service as its own user on port 443, confined, restarting after a failure', async () => {
    const settings = unitSettings(await fs.readFile(path.join(root, UNIT), 'utf8'));
    const expected = {
      Description: 'Serviço guardião do Kelvora DataSnap Servidor- Mantenha este serviço iniciado.',
      ExecStart: '/usr/lib/kelvora-tef/SvcKelvoraSiTef --base-dir /var/lib/kelvora-tef',
      User: 'kelvora',
      Group: 'kelvora',
      AmbientCapabilities: 'CAP_NET_BIND_SERVICE',
      CapabilityBoundingSet: 'CAP_NET_BIND_SERVICE',
      NoNewPrivileges: 'yes',
      Restart: 'on-failure',
      ProtectSystem: 'strict',
      ReadWritePaths: '/var/lib/kelvora-tef',
      PrivateTmp: 'yes',
      SystemCallFilter: '@system-service',
      RestrictAddressFamilies: 'AF_INET AF_INET6 AF_UNIX',
      RestrictNamespaces: 'yes',
      LimitNOFILE: '512',
      TasksMax: '256',
      MemoryMax: '512M',
      WantedBy: 'multi-user.target',
    };
    for (const [name, value] of Object.entries(expected)) {
      assert.deepEqual(settings.get(name), [value], name);
    }
    // The pin-pad is a device: hiding devices from the service would cut it off.
    assert.equal(settings.get('PrivateDevices'), undefined);
    assert.equal(settings.get('Type')?.[0], 'simple');
  });

  // A misspelt setting only makes systemd print a warning and ignore the line, so the warnings
  // are what is checked. The unit's program is looked up in the unpacked root instead of /usr.
  test('systemd reads every line of the unit', { skip: !canVerifyUnits }, async () => {
    const copy = path.join(work, 'unit-check', 'KelvoraSiTefService.service');
    await fs.mkdir(path.dirname(copy));
    const text = await fs.readFile(path.join(root, UNIT), 'utf8');
    await fs.writeFile(copy, text.replace(/^ExecStart=\//m, `ExecStart=${root}/`));
    const { stderr } = await run('systemd-analyze', ['verify', '--man=no', copy]);
    assert.equal(stderr, '');
  });

  // The unit SvcKelvoraSiTef install writes for a service outside the package has the package
  // unit's settings but for where the files are; it refuses while the package's unit is there.
  test('install writes the package unit\'s hardening, and refuses beside the package', async () => {
    const unitDir = path.join(work, 'installed-units');
    const binary = path.join(root, 'usr/lib/kelvora-tef/SvcKelvoraSiTef');
    const base = path.join(work, 'installed-base');
    await fs.mkdir(base);
    const install = (packagedDirs) => run(binary, ['--base-dir', base, 'install'], {
      env: { ...process.env, KELVORA_SYSTEMD_DIR: unitDir, KELVORA_PACKAGED_UNIT_DIRS: packagedDirs,
        KELVORA_SERVICE_USER: STAND_IN.user },
    });

    const refused = await install(`/nonexistent:${path.join(root, 'usr/lib/systemd/system')}`)
      .then(() => assert.fail('install wrote a unit beside the package\'s one'), (error) => error);
    assert.equal(refused.code, 1);
    assert.match(refused.stderr, /kelvora-tef-server package installed .*KelvoraSiTefService\.service/);
    assert.equal(await fs.stat(unitDir).then(() => true, () => false), false);

    await install(path.join(work, 'no-package'));
    const installed = unitSettings(await fs.readFile(path.join(unitDir, 'KelvoraSiTefService.service'), 'utf8'));
    const packaged = unitSettings(await fs.readFile(path.join(root, UNIT), 'utf8'));
    const own = {
      User: [STAND_IN.user], Group: [STAND_IN.group], WorkingDirectory: [base],
      ExecStart: [`"${binary}" "--base-dir" "${base}"`], ReadWritePaths: [`"${base}"`],
    };
    assert.deepEqual(Object.fromEntries(installed), { ...Object.fromEntries(packaged), ...own });
  });

  test('control data: dependencies, configuration file and maintainer scripts', async () => {
    assert.equal(await field('Package'), 'kelvora-tef-server');
    const depends = (await field('Depends')).split(/,\s*|\s*\|\s*/).map((entry) => entry.split(' ')[0]);
    for (const needed of ['libc6', 'libssl3', 'libcurl4', 'libinih1', 'libstdc++6', 'adduser', 'openssl', 'setpriv']) {
      assert.ok(depends.includes(needed), `Depends lacks ${needed}: ${depends}`);
    }
    const control = path.join(work, 'control');
    await run('dpkg-deb', ['-e', deb, control]);
    assert.equal(await fs.readFile(path.join(control, 'conffiles'), 'utf8'),
      '/etc/kelvora-tef/SvcKelvoraSiTef.ini\n');
    for (const script of ['postinst', 'prerm', 'postrm']) {
      const stat = await fs.stat(path.join(control, script));
      assert.equal(stat.mode & 0o777, 0o755, script);
      await run('sh', ['-n', path.join(control, script)]);
    }
  });
});

// The account that plays the service's user "kelvora" when the maintainer scripts run here.
const STAND_IN = { user: 'nobody', group: 'nogroup', uid: 65534, gid: 65534 };

// Runs a maintainer script of the package against root (through DPKG_ROOT). The commands that
// would change the machine's users and systemd are replaced by stand-ins that only note their
// call in the returned list; chown and setpriv are noted too and then really run, with the
// unprivileged account STAND_IN in place of the service's user, so that what the script does as
// that user has only that user's rights.
async function maintainerScript(root, script, ...args) {
  const control = path.join(root, '..', `${path.basename(root)}-control`);
  await fs.rm(control, { recursive: true, force: true });
  await run('dpkg-deb', ['-e', deb, control]);
  const stubs = path.join(root, '..', `${path.basename(root)}-stubs`);
  const calls = path.join(stubs, 'calls');
  await fs.mkdir(stubs, { recursive: true });
  const { user, group } = STAND_IN;
  const asStandIn = (program) => `for a; do shift
  case $a in
    kelvora:kelvora) a=${user}:${group} ;; root:kelvora) a=root:${group} ;;
    --reuid=kelvora) a=--reuid=${user} ;; --regid=kelvora) a=--regid=${group} ;;
  esac
  set -- "$@" "$a"
done
exec ${program} "$@"`;
  const standIns = {
    getent: 'exit 2',
    'dpkg-statoverride': 'exit 1',
    chown: asStandIn('/usr/bin/chown'),
    setpriv: asStandIn('/usr/bin/setpriv'),
  };
  for (const name of ['adduser', 'chown', 'setpriv', 'getent', 'dpkg-statoverride', 'deb-systemd-helper',
    'deb-systemd-invoke', 'systemctl']) {
    await fs.writeFile(path.join(stubs, name),
      `#!/bin/sh\necho "${name} $*" >>"${calls}"\n${standIns[name] ?? 'exit 0'}\n`, { mode: 0o755 });
  }
  await fs.rm(calls, { force: true });
  const result = await run(path.join(control, script), args, {
    env: { ...process.env, DPKG_ROOT: root, PATH: `${stubs}:${process.env.PATH}` },
  });
  const noted = await fs.readFile(calls, 'utf8').catch(() => '');
  return { ...result, calls: noted.split('\n').filter(Boolean) };
}

const CONFIG = 'etc/kelvora-tef/SvcKelvoraSiTef.ini';

// The values of jwt_secret in the configuration under root.
async function jwtSecrets(root) {
  const text = await fs.readFile(path.join(root, CONFIG), 'utf8');
  return [...text.matchAll(/^[ \t]*jwt_secret[ \t]*=[ \t]*(.*?)[ \t]*$/gim)].map((m) => m[1]);
}

describe('maintainer scripts', () => {
  test('first configuration creates the user, owns the base directory and makes certificates', async () => {
    const root = await unpack('first');
    const { calls, stdout } = await maintainerScript(root, 'postinst', 'configure');
    assert.ok(calls.some((call) => /^adduser --system .*--home \/var\/lib\/kelvora-tef .*kelvora$/.test(call)),
      calls.join('\n'));
    for (const owned of [BASE, `${BASE}/dll`, `${BASE}/Certificado`]) {
      const stat = await fs.stat(path.join(root, owned));
      assert.deepEqual([stat.uid, stat.gid, stat.mode & 0o777], [STAND_IN.uid, STAND_IN.gid, 0o750], owned);
    }
    // No owner is changed through a symbolic link.
    for (const call of calls.filter((c) => c.startsWith('chown '))) assert.match(call, /^chown (-h|--reference=)/, call);
    // Under another root nothing of this machine's systemd is touched.
    assert.ok(!calls.some((call) => /^(deb-systemd|systemctl)/.test(call)), calls.join('\n'));

    const certificates = path.join(root, BASE, 'Certificado');
    assert.deepEqual((await fs.readdir(certificates)).sort(), CERTIFICATES);
    for (const name of CERTIFICATES) assert.equal((await fs.stat(path.join(certificates, name))).uid, STAND_IN.uid, name);
    await run('openssl', ['verify', '-CAfile', path.join(certificates, 'ca_cert.pem'),
      path.join(certificates, 'server_cert.pem')]);
    assert.equal((await fs.stat(path.join(certificates, 'server_key.pem'))).mode & 0o777, 0o600);
    assert.match(stdout, /ca_cert\.pem/);
    assert.match(stdout, /simulator\/CliSiTef32I\.dll/);
  });

  test('an upgrade, or certificates of the operator, keep the certificate files', async () => {
    const root = await unpack('upgrade');
    const certificates = path.join(root, BASE, 'Certificado');
    const cases = [
      ['the set of an earlier configuration', async () => maintainerScript(root, 'postinst', 'configure')],
      ['an operator\'s own files', async () => {
        for (const name of CERTIFICATES) await fs.writeFile(path.join(certificates, name), `operator ${name}\n`);
      }],
      ['a set the operator left incomplete', async () => {
        await fs.rm(path.join(certificates, 'ca_cert.pem'));
      }],
    ];
    for (const [what, prepare] of cases) {
      await prepare();
      const before = await Promise.all(CERTIFICATES.map((name) =>
        fs.readFile(path.join(certificates, name)).catch(() => null)));
      await maintainerScript(root, 'postinst', 'configure', '1.0.0.4');
      const afterwards = await Promise.all(CERTIFICATES.map((name) =>
        fs.readFile(path.join(certificates, name)).catch(() => null)));
      assert.deepEqual(afterwards, before, what);
    }
  });

  test('first configuration writes a token key of its own that later configurations keep', async () => {
    const root = await unpack('secret');
    const { stdout } = await maintainerScript(root, 'postinst', 'configure');
    const [secret, ...others] = await jwtSecrets(root);
    assert.match(secret, /^[A-Za-z0-9]{32}$/);
    assert.deepEqual(others, []);
    const stat = await fs.stat(path.join(root, CONFIG));
    assert.deepEqual([stat.uid, stat.gid, stat.mode & 0o777], [0, STAND_IN.gid, 0o640]);
    assert.match(stdout, /\/etc\/kelvora-tef\/SvcKelvoraSiTef\.ini/);
    assert.match(stdout, /sales system must sign/);
    assert.doesNotMatch(stdout, new RegExp(secret), 'the key is not printed');

    for (const args of [['configure', '1.0.0.4'], ['configure']]) {
      const again = await maintainerScript(root, 'postinst', ...args);
      assert.deepEqual(await jwtSecrets(root), [secret], args.join(' '));
      assert.doesNotMatch(again.stdout, /token key/, args.join(' '));
    }

    const another = await unpack('secret-another');
    await maintainerScript(another, 'postinst', 'configure');
    assert.notDeepEqual(await jwtSecrets(another), [secret], 'each installation has its own key');
  });

  test('a key that is there, or an upgrade without one, is left as it is', async () => {
    const cases = [
      ['the administrator\'s key', ['configure'], '[Security]\njwt_secret = Own0Own0Own0Own0Own0Own0Own0Own0\n',
        ['Own0Own0Own0Own0Own0Own0Own0Own0'], /^$/],
      ['an upgrade of an installation on the built-in key', ['configure', '1.0.0.3'], null, [''], /built-in key/],
      ['a file without the key', ['configure'], '[sitef]\npdv_number=3\n', null, /^$/],
    ];
    for (const [what, args, text, expected, warning] of cases) {
      const root = await unpack(`kept-${cases.findIndex((c) => c[0] === what)}`);
      if (text !== null) await fs.writeFile(path.join(root, CONFIG), text);
      const { stderr } = await maintainerScript(root, 'postinst', ...args);
      const secrets = await jwtSecrets(root);
      if (expected) {
        assert.deepEqual(secrets, expected, what);
      } else {
        assert.equal(secrets.length, 1, what);
        assert.match(secrets[0], /^[A-Za-z0-9]{32}$/, what);
        assert.match(await fs.readFile(path.join(root, CONFIG), 'utf8'), /^pdv_number=3\n[^]*^\[security\]\njwt_secret=/m, what);
      }
      assert.match(stderr, warning, what);
    }
  });

  test('symbolic links planted in the service\'s folders are not followed', async () => {
    const root = await unpack('links');
    await maintainerScript(root, 'postinst', 'configure');
    const base = path.join(root, BASE);
    // Root's own files that the service's user points its folders and files at.
    const victim = path.join(work, 'victim');
    await fs.mkdir(victim, { mode: 0o700 });
    await fs.chmod(victim, 0o755);
    await fs.writeFile(path.join(victim, 'file'), 'root\'s\n', { mode: 0o644 });
    const certificates = path.join(base, 'Certificado');
    await fs.rm(path.join(base, 'dll'), { recursive: true });
    await fs.symlink(victim, path.join(base, 'dll'));
    for (const name of CERTIFICATES) await fs.rm(path.join(certificates, name));
    await fs.symlink(path.join(victim, 'made-by-root'), path.join(certificates, 'server_key.pem'));
    await fs.symlink(path.join(victim, 'file'), path.join(certificates, 'server_cert.pem.tmp'));

    const { stderr } = await maintainerScript(root, 'postinst', 'configure', '1.0.0.4');
    const stat = await fs.stat(victim);
    assert.deepEqual([stat.uid, stat.gid, stat.mode & 0o777], [0, 0, 0o755]);
    const file = await fs.stat(path.join(victim, 'file'));
    assert.deepEqual([file.uid, file.mode & 0o777], [0, 0o644]);
    assert.equal(await fs.readFile(path.join(victim, 'file'), 'utf8'), 'root\'s\n');
    assert.deepEqual((await fs.readdir(victim)).sort(), ['file']);
    assert.match(stderr, /dll is not a folder/);

    // Purging removes the links, never what they point at.
    await fs.rm(path.join(base, 'TEF'), { recursive: true, force: true });
    await fs.symlink(victim, path.join(base, 'TEF'));
    await maintainerScript(root, 'postrm', 'purge');
    assert.equal(await fs.stat(base).then(() => true, () => false), false);
    assert.deepEqual((await fs.readdir(victim)).sort(), ['file']);
  });

  test('purge removes the base directory unless a payment backup is still there', async () => {
    const cases = [
      ['no backups', [], false],
      ['a pending payment', ['TEF/KoCliSiTef_CliSiTef_001.tef'], true],
    ];
    for (const [what, backups, kept] of cases) {
      const root = await unpack(`purge-${kept}`);
      const base = path.join(root, BASE);
      await fs.mkdir(path.join(base, 'Log'), { recursive: true });
      await fs.mkdir(path.join(base, 'TEF'), { recursive: true });
      for (const file of backups) await fs.writeFile(path.join(base, file), 'backup');
      const { stderr } = await maintainerScript(root, 'postrm', 'purge');
      const exists = await fs.stat(base).then(() => true, () => false);
      assert.equal(exists, kept, what);
      if (kept) assert.match(stderr, /pending payments/);
    }
  });

  test('the configured tree runs the packaged service with the simulator linked in for a trial', async () => {
    const root = await unpack('trial');
    await maintainerScript(root, 'postinst', 'configure');
    const base = path.join(root, BASE);
    await fs.symlink(path.join(root, 'usr/lib/kelvora-tef/simulator/CliSiTef32I.dll'),
      path.join(base, 'dll', 'CliSiTef32I.dll'));
    const port = await freePort();
    const service = await startService({
      binary: path.join(root, 'usr/lib/kelvora-tef/SvcKelvoraSiTef'), baseDir: base, port,
    });
    try {
      const ca = await fs.readFile(path.join(base, 'Certificado', 'ca_cert.pem'));
      const client = await connectClient(port, { host: 'localhost', ca });
      try {
        const { session_uuid } = await openSession(client);
        assert.deepEqual(await exchange(client, { route: '/initialize', type: 'initialize', session_uuid }),
          { type: 'initialize', message: 'Inicializado com sucesso.' });
      } finally {
        client.terminate();
      }
    } finally {
      await service.stop();
    }
  });
});
