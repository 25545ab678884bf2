// The web page of zent-recorder in Debian's headless Chromium, against a real zent-recorder and a
// stand-in camera: log in, list, a new recording pushed without reloading, Motion JPEG and H.264
// playback with seeking, keeping, a clip, a shared link, a viewer without Delete, an admin's delete. Usage: node page_test.mjs BIN_DIR
// (ZENT_SCREENSHOTS=DIR also saves the page at a desktop's and a phone's size).

import {execFileSync} from 'node:child_process';
import {existsSync, readdirSync, statSync} from 'node:fs';
import {join} from 'node:path';
import assert from 'node:assert/strict';
import {makeHome, until, freePort, standIn, launchChromium, openPage, logIn as logInPage} from './harness.mjs';

const bin = process.argv[2];
const home = makeHome(bin);
const {recordings} = home;

function ffmpeg(args) { execFileSync('ffmpeg', ['-v', 'error', ...args], {stdio: 'inherit'}); }

async function main() {
  // Two earlier recordings as this program names them: Motion JPEG, and H.264 as an RTSP camera's.
  ffmpeg(['-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=10', '-t', '6', '-c:v', 'mjpeg', '-q:v', '5',
    join(recordings, 'door_20261206_220000.avi')]);
  ffmpeg(['-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=15', '-t', '6', '-c:v', 'libx264', '-g', '15', '-bf', '0',
    '-pix_fmt', 'yuv420p', join(recordings, 'door_20261206_230000.avi')]);
  // And an MP4 recording, in fragments with their index at the end, as the program writes them.
  ffmpeg(['-f', 'lavfi', '-i', 'testsrc=size=320x240:rate=15', '-t', '6', '-c:v', 'libx264', '-g', '15', '-bf', '0',
    '-pix_fmt', 'yuv420p', '-movflags', 'frag_keyframe+empty_moov+default_base_moof',
    join(recordings, 'door_20261206_235000.mp4')]);

  const camera = await standIn(home, '127.0.0.2');
  home.writeCameras([['127.0.0.2', camera.eventPort, camera.videoPort, join(recordings, 'door.avi')]]);
  home.recorder(['--add-user', 'boss', '--admin'], 'boss-pass-12\n');
  home.recorder(['--add-user', 'guard'], 'guard-pass-1\n');
  const port = await freePort();
  const recorder = home.start('zent-recorder', ['--web', '127.0.0.1:' + port]);
  await until('the recorder to log in', () => recorder.output.includes('Waiting Event Message...'));
  // The cameras start before the page binds its port.
  await until('the web page', () => recorder.output.includes('web page at '));
  const url = 'http://127.0.0.1:' + port;

  const browser = await launchChromium();
  try {
    const {page, errors} = await openPage(browser, 1280, 800);

    async function logIn(user, password) {
      await logInPage(page, url, user, password);
      await page.waitForFunction(() => document.querySelectorAll('#list li').length >= 2);
    }
    const items = () => page.$$eval('#list li', (list) => list.map((li) => li.dataset.recording));
    // Clicked in one step in the page: the list is drawn anew when news comes.
    const press = (selector) => page.$eval(selector, (button) => button.click());

    await logIn('boss', 'boss-pass-12');
    assert.match(await page.$eval('.camera', (b) => b.textContent), /127\.0\.0\.2/);
    assert.deepEqual(await items(),
      ['127_0_0_2~20261206_235000', '127_0_0_2~20261206_230000', '127_0_0_2~20261206_220000']);

    // An event: its recording appears without reloading.
    camera.stdin.write('event\n');
    await page.waitForFunction(() => document.querySelectorAll('#list li').length === 4, {timeout: 15000});

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
    await page.waitForFunction(() => document.querySelectorAll('#list li').length === 4);

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

    // An MP4 recording is played as it is on the disk: the very bytes, no MP4 made of it.
    await press('li[data-recording="127_0_0_2~20261206_235000"] button');
    await page.waitForFunction(() => document.getElementById('video').currentTime > 0.5 &&
      document.getElementById('video').src.includes('20261206_235000'), {timeout: 10000});
    assert.equal(await page.$eval('#video', (v) => v.error), null);
    await page.$eval('#video', (v) => new Promise((resolve) => {
      v.addEventListener('seeked', resolve, {once: true});
      v.currentTime = 4;
    }));
    const served = await page.$eval('#video', async (v) => (await (await fetch(v.src)).arrayBuffer()).byteLength);
    assert.equal(served, statSync(join(recordings, 'door_20261206_235000.mp4')).size);
    const questions = [];
    page.on('dialog', async (dialog) => {
      questions.push(dialog.message());
      await dialog.accept(dialog.type() === 'prompt' ? '2' : undefined);
    });

    // Kept: the mark is beside the recording on the disk.
    await press('li[data-recording="127_0_0_2~20261206_235000"] button.keep');
    await until('the mark', () => existsSync(join(recordings, 'door_20261206_235000.mp4.keep')));
    await page.waitForFunction(() =>
      document.querySelector('li[data-recording="127_0_0_2~20261206_235000"] button.keep').textContent === 'Kept');

    // A clip of the H.264 recording's seconds 1 to 4 plays in the page's player; a time without
    // recordings says so in the page.
    await page.evaluate(async () => {
      // A file without its own start begins the camera's seconds before the event in its name.
      const r = await (await fetch('/api/recordings/127_0_0_2~20261206_230000')).json();
      setClip(new Date(new Date(r.start).getTime() - (r.eventSeconds - 1) * 1000), 3);
      const video = document.getElementById('video');
      document.getElementById('player').hidden = false;
      video.hidden = false;
      video.src = '/api/cameras/127_0_0_2/clip?' + clipQuery();
      video.play();
    });
    await page.waitForFunction(() => document.getElementById('video').currentTime > 0.5, {timeout: 10000});
    assert.equal(await page.$eval('#video', (v) => v.error), null);
    await page.evaluate(() => {
      document.getElementById('clipFrom').value = '2026-12-01T10:00:00';
      document.getElementById('clipTo').value = '2026-12-01T10:05:00';
    });
    await press('#clipDownload');
    await page.waitForFunction(() => document.getElementById('clipSaid').textContent === 'no recording in that time');

    // Shared links: the MP4 recording opens without a log-in in another browser, and nothing else
    // does; revoked, the link is gone.
    await press('li[data-recording="127_0_0_2~20261206_235000"] button:nth-of-type(3)');
    const link = await until('the link', () => page.$eval('#newLink', (p) => (p.querySelector('input') || {}).value));
    assert.match(link, /\/s\/zs_[0-9a-f]{64}$/);
    await page.waitForFunction(() => document.querySelectorAll('#shareList li').length === 1);
    const stranger = await browser.createBrowserContext();
    const outside = await stranger.newPage();
    await outside.goto(link);
    await outside.waitForFunction(() => document.querySelector('video') && document.querySelector('video').duration > 5,
      {timeout: 10000});
    const elsewhere = await outside.goto(url + '/api/recordings/127_0_0_2~20261206_230000/download');
    assert.equal(elsewhere.status(), 401);
    await press('#shareList li button.danger');
    await page.waitForFunction(() => document.querySelectorAll('#shareList li').length === 0);
    assert.equal((await outside.goto(link)).status(), 404);
    await stranger.close();
    if (process.env.ZENT_SCREENSHOTS) await page.screenshot({path: join(process.env.ZENT_SCREENSHOTS, 'web-desktop.png')});

    // An admin deletes, after one question.
    questions.length = 0;
    await press('li[data-recording="127_0_0_2~20261206_220000"] button.danger');
    await page.waitForFunction(() => !document.querySelector('li[data-recording="127_0_0_2~20261206_220000"]'));
    assert.equal(questions.length, 1);
    assert.ok(!existsSync(join(recordings, 'door_20261206_220000.avi')));

    // Record now: an event from the page, recorded like the camera's own.
    assert.equal(await page.$eval('#recordNow', (button) => button.hidden), false);
    await press('#recordNow');
    await page.waitForFunction(() => document.getElementById('recordNowSaid').textContent === 'Recording asked for');
    await page.waitForFunction(() => document.querySelectorAll('#list li[data-recording^="127_0_0_2~"]').length === 3,
      {timeout: 15000});

    // A viewer sees no Delete.
    await Promise.all([page.waitForNavigation(), page.click('#logout')]);  // waiting before the click: it may be quick
    await logIn('guard', 'guard-pass-1');
    assert.equal((await page.$$('#list button.danger')).length, 0);
    assert.equal(await page.$eval('#recordNow', (button) => button.hidden), true);
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
  console.log('the page logged in, listed, pushed, played both codecs and an MP4 recording, seeked, kept, made a clip and a link, and deleted');
}

main().then(() => { home.cleanup(); process.exit(0); }, (error) => { console.error(error); home.cleanup(); process.exit(1); });
