// The web page of zent-recorder in Debian's headless Chromium, against a real zent-recorder and a
// stand-in camera: log in, list, a new recording pushed without reloading, Motion JPEG and H.264
// playback with seeking, a viewer without Delete, an admin's delete. Usage: node page_test.mjs BIN_DIR
// (ZENT_SCREENSHOTS=DIR also saves the page at a desktop's and a phone's size).

import {spawn, execFileSync} from 'node:child_process';
import {mkdtempSync, mkdirSync, writeFileSync, chmodSync, existsSync, rmSync, readdirSync} from 'node:fs';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';

const bin = process.argv[2];
const home = mkdtempSync(join(tmpdir(), 'zent-browser-'));
const documents = join(home, 'Documents');
const recordings = join(home, 'recordings');
const config = join(home, '.config', 'zent-client');
for (const dir of [documents, recordings, config]) mkdirSync(dir, {recursive: true});
const env = {...process.env, HOME: home, XDG_CONFIG_HOME: join(home, '.config'), XDG_CACHE_HOME: join(home, '.cache'),
  XDG_DATA_HOME: join(home, '.local', 'share'), CREDENTIALS_DIRECTORY: '', DISPLAY: '', WAYLAND_DISPLAY: ''};
const children = [];

function start(program, args) {
  const child = spawn(join(bin, program), args, {env, stdio: ['pipe', 'pipe', 'pipe']});
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', (d) => { child.output += d; });
  children.push(child);
  return child;
}

async function until(what, check, ms = 10000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

function freePort() {
  return new Promise((resolve) => {
    const server = createServer();
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

function ffmpeg(args) { execFileSync('ffmpeg', ['-v', 'error', ...args], {stdio: 'inherit'}); }

async function main() {
  // Two earlier recordings as this program names them: Motion JPEG, and H.264 as an RTSP camera's.
  ffmpeg(['-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=10', '-t', '6', '-c:v', 'mjpeg', '-q:v', '5',
    join(recordings, 'door_20261206_220000.avi')]);
  ffmpeg(['-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=15', '-t', '6', '-c:v', 'libx264', '-g', '15', '-bf', '0',
    '-pix_fmt', 'yuv420p', join(recordings, 'door_20261206_230000.avi')]);

  const camera = start('zent-camsim', ['--address', '127.0.0.2', '--event-port', '0', '--video-port', '0', '--user',
    'cam', '--password', 'pw', '--size', '320x240', '--fps', '10']);
  await until('the stand-in camera', () => /video port (\d+)/.test(camera.output));
  const eventPort = camera.output.match(/event port (\d+)/)[1];
  const videoPort = camera.output.match(/video port (\d+)/)[1];
  writeFileSync(join(documents, 'zent.cfg1'), execFileSync(join(bin, 'zent-camera-line'),
    ['127.0.0.2', eventPort, videoPort, join(recordings, 'door.avi')]));
  writeFileSync(join(config, 'credentials'), '127.0.0.2 cam pw\n');
  chmodSync(join(config, 'credentials'), 0o600);
  execFileSync(join(bin, 'zent-recorder'), ['--add-user', 'boss', '--admin'], {env, input: 'boss-pass-12\n'});
  execFileSync(join(bin, 'zent-recorder'), ['--add-user', 'guard'], {env, input: 'guard-pass-1\n'});
  const port = await freePort();
  const recorder = start('zent-recorder', ['--web', '127.0.0.1:' + port]);
  await until('the recorder to log in', () => recorder.output.includes('Waiting Event Message...'));
  const url = 'http://127.0.0.1:' + port;

  const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--autoplay-policy=no-user-gesture-required']});
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 1280, height: 800});
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));

    async function logIn(user, password) {
      await page.goto(url + '/', {waitUntil: 'networkidle0'});
      assert.equal(new URL(page.url()).pathname, '/login');  // nothing but the log-in page without a session
      await page.type('input[name=user]', user);
      await page.type('input[name=password]', password);
      await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
      await page.waitForSelector('.camera');
      await page.waitForFunction(() => document.querySelectorAll('#list li').length >= 2);
    }
    const items = () => page.$$eval('#list li', (list) => list.map((li) => li.dataset.recording));
    // Clicked in one step in the page: the list is drawn anew when news comes.
    const press = (selector) => page.$eval(selector, (button) => button.click());

    await logIn('boss', 'boss-pass-12');
    assert.match(await page.$eval('.camera', (b) => b.textContent), /127\.0\.0\.2/);
    assert.deepEqual(await items(), ['127_0_0_2~20261206_230000', '127_0_0_2~20261206_220000']);

    // An event: its recording appears without reloading.
    camera.stdin.write('event\n');
    await page.waitForFunction(() => document.querySelectorAll('#list li').length === 3, {timeout: 15000});

    // The week's chart: a click on an hour with events shows that day and marks that hour's recordings.
    // (In one step in the page: the chart is drawn anew whenever news comes.)
    const busy = await page.evaluate(() => {
      const cells = document.querySelectorAll('#week .cell.some, #week .cell.many');
      if (cells.length) cells[0].click();
      return cells.length;
    });
    assert.ok(busy >= 2, 'hours with events in the week: ' + busy);
    await page.waitForSelector('#list li.hour');
    await press('#days button');  // back to all days
    await page.waitForFunction(() => document.querySelectorAll('#list li').length === 3);

    // Motion JPEG: the frames advance at the file's rate; the scrub bar shows the frame under it.
    await press('li[data-recording="127_0_0_2~20261206_220000"] button');
    const frameNumber = () => page.$eval('#frame', (img) => Number((img.src.match(/frame\/(\d+)\.jpg/) || [])[1] || -1));
    await until('the first frame', async () => (await frameNumber()) >= 0);
    const first = await frameNumber();
    await new Promise((r) => setTimeout(r, 1500));
    const advanced = (await frameNumber()) - first;
    assert.ok(advanced >= 10 && advanced <= 20, 'played ' + advanced + ' frames in 1.5 s at 10 fps');
    await page.$eval('#scrub', (scrub) => { scrub.value = '40'; scrub.dispatchEvent(new Event('input')); });
    assert.equal(await frameNumber(), 40);
    await page.waitForFunction(() => document.getElementById('frame').complete &&
      document.getElementById('frame').naturalWidth === 320);

    // H.264: the browser's own player plays the MP4 and seeks.
    await press('li[data-recording="127_0_0_2~20261206_230000"] button');
    await page.waitForFunction(() => document.getElementById('video').currentTime > 0.5, {timeout: 10000});
    assert.equal(await page.$eval('#video', (v) => v.error), null);
    await page.$eval('#video', (v) => new Promise((resolve) => {
      v.addEventListener('seeked', resolve, {once: true});
      v.currentTime = 4;
    }));
    assert.ok(await page.$eval('#video', (v) => v.currentTime >= 3.9));
    if (process.env.ZENT_SCREENSHOTS) await page.screenshot({path: join(process.env.ZENT_SCREENSHOTS, 'web-desktop.png')});

    // An admin deletes, after one question.
    const questions = [];
    page.on('dialog', async (dialog) => { questions.push(dialog.message()); await dialog.accept(); });
    await press('li[data-recording="127_0_0_2~20261206_220000"] button.danger');
    await page.waitForFunction(() => !document.querySelector('li[data-recording="127_0_0_2~20261206_220000"]'));
    assert.equal(questions.length, 1);
    assert.ok(!existsSync(join(recordings, 'door_20261206_220000.avi')));

    // A viewer sees no Delete.
    await page.click('#logout');
    await page.waitForNavigation();
    await logIn('guard', 'guard-pass-1');
    assert.equal((await page.$$('#list button.danger')).length, 0);
    assert.deepEqual(errors, []);
    if (process.env.ZENT_SCREENSHOTS) {
      const phone = await browser.newPage();
      await phone.setViewport({width: 390, height: 844, isMobile: true, hasTouch: true});
      await phone.goto(url + '/', {waitUntil: 'load'});
      await phone.waitForFunction(() => document.querySelectorAll('#list img').length >= 2 &&
        [...document.querySelectorAll('#list img')].every((i) => i.complete));
      await phone.screenshot({path: join(process.env.ZENT_SCREENSHOTS, 'web-phone.png')});
    }
  } finally {
    await browser.close();
  }
  const saved = readdirSync(recordings);
  assert.ok(saved.some((name) => /^door_\d{8}_\d{6}\.avi$/.test(name) && !name.startsWith('door_20261206')));
  console.log('the page logged in, listed, pushed, played both codecs, seeked and deleted');
}

main().then(() => { cleanup(); process.exit(0); }, (error) => { console.error(error); cleanup(); process.exit(1); });

function cleanup() {
  for (const child of children) child.kill('SIGTERM');
  rmSync(home, {recursive: true, force: true});
}
