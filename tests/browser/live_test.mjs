// Live view and health of zent-recorder in Debian's headless Chromium: a Motion JPEG stand-in whose
// frames advance in the page, an H.264 camera from GStreamer's RTSP server that plays live and whose
// recording plays back, "no video" when the stand-in's video dies and the picture back without
// reloading when it returns; /metrics read by Prometheus' own parser, its counters moving with
// events, and /healthz turning 503 and back. Usage: node live_test.mjs BIN_DIR RTSP_SERVER_SCRIPT

import {execFileSync} from 'node:child_process';
import {writeFileSync} from 'node:fs';
import {join} from 'node:path';
import assert from 'node:assert/strict';
import {makeHome, until, freePort, standIn, launchChromium, openPage, logIn} from './harness.mjs';

const [bin, rtspScript] = process.argv.slice(2);
const home = makeHome(bin);

// The samples of a Prometheus scrape, by Prometheus' own parser: "name{labels}" -> value.
function parseMetrics(text) {
  const script = 'import json, sys\nfrom prometheus_client.parser import text_string_to_metric_families\n' +
    'out = {}\nfor family in text_string_to_metric_families(sys.stdin.read()):\n' +
    '    for s in family.samples:\n' +
    '        out[s.name + json.dumps(s.labels, sort_keys=True)] = s.value\nprint(json.dumps(out))\n';
  return JSON.parse(execFileSync('/usr/bin/python3', ['-c', script], {input: text}).toString());
}

async function main() {
  // Door: events from one stand-in, video from another at a fixed port, so the video alone can die.
  const events = await standIn(home, '127.0.0.2');
  const videoPort = await freePort();
  const videoArgs = ['--address', '127.0.0.2', '--event-port', '0', '--video-port', String(videoPort), '--user', 'cam',
    '--password', 'pw', '--size', '320x240', '--fps', '10'];
  let video = home.start('zent-camsim', videoArgs);
  await until('the stand-in video', () => /video port/.test(video.output));
  // Yard: events from a stand-in, H.264 from GStreamer's RTSP server.
  const yardEvents = await standIn(home, '127.0.0.3');
  const rtsp = home.start('/usr/bin/python3', [rtspScript, '--codec', 'h264', '--size', '640x360', '--fps', '25',
    '--gop-seconds', '2']);
  await until('the RTSP server', () => /rtsp port (\d+)/.test(rtsp.output));
  const rtspPort = rtsp.output.match(/rtsp port (\d+)/)[1];
  home.writeCameras([['127.0.0.2', events.eventPort, videoPort, join(home.recordings, 'door.avi')],
    ['127.0.0.3', yardEvents.eventPort, rtspPort, join(home.recordings, 'yard.avi')]]);
  writeFileSync(join(home.config, 'zent-client.ini'), '[cameraVideoUrl]\n127.0.0.3=rtsp://127.0.0.1:{port}/stream1\n');
  home.recorder(['--add-user', 'guard'], 'guard-pass-1\n');
  const token = home.recorder(['--add-token', 'prometheus']).trim();
  const port = await freePort();
  const recorder = home.start('zent-recorder', ['--web', '127.0.0.1:' + port]);
  await until('both cameras to log in', () => recorder.output.split('Waiting Event Message...').length === 3);
  // The cameras start before the page binds its port.
  await until('the web page', () => recorder.output.includes('web page at '));
  const url = 'http://127.0.0.1:' + port;
  const machine = (path, headers = {}) => fetch(url + path, {headers});
  const scrape = async () => parseMetrics(await (await machine('/metrics', {Authorization: 'Bearer ' + token})).text());
  const door = '{"address": "127.0.0.2", "camera": "127_0_0_2"}';

  // Without a session or token nobody reads them; a wrong token is no token.
  assert.equal((await machine('/metrics')).status, 401);
  assert.equal((await machine('/healthz', {Authorization: 'Bearer zent_' + '0'.repeat(64)})).status, 401);
  await until('both cameras healthy', async () => (await machine('/healthz', {Authorization: 'Bearer ' + token})).status === 200);
  const before = await scrape();
  assert.equal(before['zent_camera_up' + door], 1);
  assert.equal(before['zent_camera_video_up' + door], 1);

  const browser = await launchChromium();
  try {
    const {page, errors} = await openPage(browser, 1280, 900);
    await logIn(page, url, 'guard', 'guard-pass-1');

    // Motion JPEG live: the page shows the picture, and the stream it reads carries advancing frame numbers.
    await page.waitForFunction(() => {
      const img = document.querySelector('.tile[data-camera="127_0_0_2"] img');
      return img && img.complete && img.naturalWidth === 320;
    }, {timeout: 10000});
    assert.equal(await page.$eval('.tile[data-camera="127_0_0_2"] .novideo', (n) => getComputedStyle(n).display), 'none');
    const numbers = await page.evaluate(async () => {
      const response = await fetch('/api/cameras/127_0_0_2/live');
      const reader = response.body.getReader();
      const found = [];
      let text = '';
      while (found.length < 6) {
        const {value, done} = await reader.read();
        if (done) break;
        text += new TextDecoder('latin1').decode(value);
        for (const m of text.matchAll(/zent-camsim frame=(\d+)/g)) found.push(Number(m[1]));
        text = text.slice(-64);
      }
      reader.cancel();
      return found;
    });
    assert.ok(numbers.length >= 6 && numbers.every((n, i) => i === 0 || n > numbers[i - 1]), 'frames ' + numbers);

    // H.264 live from the RTSP server: <video> plays, its time moves, no media error.
    await page.waitForFunction(() => {
      const v = document.querySelector('.tile[data-camera="127_0_0_3"] video');
      return v && v.currentTime > 1;
    }, {timeout: 15000});
    assert.equal(await page.$eval('.tile[data-camera="127_0_0_3"] video', (v) => v.error), null);

    // An event on each camera: counters move; the H.264 recording, from the RTSP server, plays back.
    events.stdin.write('event\n');
    yardEvents.stdin.write('event\n');
    await until('the events counted', async () => {
      const now = await scrape();
      const events = 'zent_camera_events_total' + door.replace('}', ', "source": "camera"}');
      return now[events] === before[events] + 1 &&
        now['zent_camera_frames_written_total' + door] > 0 && now['zent_camera_recordings_total' + door] === 1;
    });
    await page.waitForSelector('.camera[data-camera="127_0_0_3"]');
    await page.$eval('.camera[data-camera="127_0_0_3"]', (b) => b.click());
    await page.waitForSelector('#list li[data-recording^="127_0_0_3~"]', {timeout: 15000});
    await page.$eval('#list li[data-recording^="127_0_0_3~"] button', (b) => b.click());
    await page.waitForFunction(() => document.getElementById('video').currentTime > 0.5, {timeout: 15000});
    assert.equal(await page.$eval('#video', (v) => v.error), null);

    // The door's video dies: "no video" on the page, 503 from /healthz; back without reloading.
    video.kill('SIGKILL');
    await page.waitForFunction(() => {
      const note = document.querySelector('.tile[data-camera="127_0_0_2"] .novideo');
      return note && getComputedStyle(note).display !== 'none';
    }, {timeout: 15000});
    const sick = await machine('/healthz', {Authorization: 'Bearer ' + token});
    assert.equal(sick.status, 503);
    assert.match(JSON.stringify(await sick.json()), /video lost/);
    const reloads = await page.evaluate(() => performance.getEntriesByType('navigation').length);
    video = home.start('zent-camsim', videoArgs);
    await page.waitForFunction(() => {
      const tile = document.querySelector('.tile[data-camera="127_0_0_2"]');
      const img = tile && tile.querySelector('img');
      return getComputedStyle(tile.querySelector('.novideo')).display === 'none' && img && img.complete &&
        img.naturalWidth === 320;
    }, {timeout: 20000});
    assert.equal(await page.evaluate(() => performance.getEntriesByType('navigation').length), reloads);
    await until('healthy again', async () => (await machine('/healthz', {Authorization: 'Bearer ' + token})).status === 200);
    assert.ok((await scrape())['zent_camera_reconnects_total' + door] >= 1);
    if (process.env.ZENT_SCREENSHOTS) await page.screenshot({path: join(process.env.ZENT_SCREENSHOTS, 'web-live.png')});
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
  console.log('live Motion JPEG and H.264 shown, no video and back, metrics parsed and moving, health 503 and 200');
}

main().then(() => { home.cleanup(); process.exit(0); }, (error) => { console.error(error); home.cleanup(); process.exit(1); });
