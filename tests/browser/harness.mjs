// What the browser tests share: a scratch home for zent-recorder, child processes that are
// stopped at the end, waits, free loopback ports and Debian's headless Chromium.

import {spawn, execFileSync} from 'node:child_process';
import {mkdtempSync, mkdirSync, writeFileSync, chmodSync, rmSync} from 'node:fs';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import puppeteer from 'puppeteer-core';

export function makeHome(bin) {
  const home = mkdtempSync(join(tmpdir(), 'zent-browser-'));
  const paths = {home, documents: join(home, 'Documents'), recordings: join(home, 'recordings'),
    config: join(home, '.config', 'zent-client')};
  for (const dir of [paths.documents, paths.recordings, paths.config]) mkdirSync(dir, {recursive: true});
  const env = {...process.env, HOME: home, XDG_CONFIG_HOME: join(home, '.config'), XDG_CACHE_HOME: join(home, '.cache'),
    XDG_DATA_HOME: join(home, '.local', 'share'), CREDENTIALS_DIRECTORY: '', DISPLAY: '', WAYLAND_DISPLAY: ''};
  const children = [];
  const start = (program, args) => {
    const child = spawn(program.includes('/') ? program : join(bin, program), args, {env, stdio: ['pipe', 'pipe', 'pipe']});
    child.output = '';
    child.stdout.on('data', (d) => { child.output += d; });
    child.stderr.on('data', (d) => { child.output += d; });
    children.push(child);
    return child;
  };
  // One camera line a camera: [address, eventPort, videoPort, savePath].
  const writeCameras = (lines) => {
    writeFileSync(join(paths.documents, 'zent.cfg1'),
      lines.map((line) => execFileSync(join(bin, 'zent-camera-line'), line.map(String))).join(''));
    writeFileSync(join(paths.config, 'credentials'), lines.map(([address]) => address + ' cam pw\n').join(''));
    chmodSync(join(paths.config, 'credentials'), 0o600);
  };
  const recorder = (args, input) => execFileSync(join(bin, 'zent-recorder'), args, {env, input}).toString();
  const cleanup = () => {
    for (const child of children) child.kill('SIGTERM');
    rmSync(home, {recursive: true, force: true});
  };
  return {...paths, env, start, writeCameras, recorder, cleanup};
}

export async function until(what, check, ms = 10000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

export function freePort() {
  return new Promise((resolve) => {
    const server = createServer();
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

export async function standIn(home, address, args = []) {
  const camera = home.start('zent-camsim', ['--address', address, '--event-port', '0', '--video-port', '0', '--user',
    'cam', '--password', 'pw', '--size', '320x240', '--fps', '10', ...args]);
  await until('the stand-in camera', () => /video port (\d+)/.test(camera.output));
  camera.eventPort = Number(camera.output.match(/event port (\d+)/)[1]);
  camera.videoPort = Number(camera.output.match(/video port (\d+)/)[1]);
  return camera;
}

export function launchChromium() {
  return puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required']});
}

// A page of the given size; `errors` collects what its scripts throw.
export async function openPage(browser, width, height) {
  const page = await browser.newPage();
  await page.setViewport({width, height});
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  return {page, errors};
}

// Logs in on the log-in page and waits for the cameras.
export async function logIn(page, url, user, password) {
  await page.goto(url + '/', {waitUntil: 'networkidle0'});
  if (new URL(page.url()).pathname !== '/login') throw new Error('not sent to the log-in page: ' + page.url());
  await page.type('input[name=user]', user);
  await page.type('input[name=password]', password);
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  await page.waitForSelector('.camera');
}
