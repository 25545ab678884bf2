// zent-camsim's stand-in ONVIF device against a client nobody here wrote: the `onvif` package from
// npm connects with its own clock handling and WS-Security, finds the stream, subscribes to a
// pull point and hears a motion typed on the stand-in's standard input.
//   node onvif_check.mjs BIN_DIR

import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {createRequire} from 'node:module';

const require = createRequire(import.meta.url);
const {Cam} = require('onvif');
const bin = process.argv[2];

const camera = spawn(`${bin}/zent-camsim`, [
  '--event-port', '0', '--video-port', '0', '--onvif-port', '0', '--user', 'admin', '--password', 'kwolt',
  '--onvif-clock-offset', '7200', '--onvif-stream-uri', 'rtsp://192.0.2.1:8554/stream1',
], {stdio: ['pipe', 'pipe', 'inherit']});
let output = '';
const port = await new Promise((resolve, reject) => {
  camera.stdout.on('data', (chunk) => {
    output += chunk;
    const found = /onvif port (\d+)/.exec(output);
    if (found) resolve(Number(found[1]));
  });
  setTimeout(() => reject(new Error('zent-camsim did not start: ' + output)), 30000);
});

try {
  const cam = await new Promise((resolve, reject) => {
    const c = new Cam({hostname: '127.0.0.1', port, username: 'admin', password: 'kwolt', timeout: 10000,
      preserveAddress: true}, (error) => (error ? reject(error) : resolve(c)));
  });
  // Its clock is two hours ahead of ours; the client took that from GetSystemDateAndTime (it keeps
  // the camera's time less its own uptime).
  const cameraNow = cam.timeShift + process.uptime() * 1000;
  assert.ok(Math.abs(cameraNow - (Date.now() + 7200 * 1000)) < 5000, 'camera time ' + new Date(cameraNow));
  const stream = await new Promise((resolve, reject) => cam.getStreamUri({protocol: 'RTSP'},
      (error, uri) => (error ? reject(error) : resolve(uri))));
  assert.equal(stream.uri, 'rtsp://192.0.2.1:8554/stream1');

  const motion = new Promise((resolve, reject) => {
    cam.on('event', (message) => {
      const topic = message.topic && message.topic._;
      const data = message.message && message.message.message && message.message.message.data;
      const item = data && data.simpleItem && data.simpleItem.$;
      if (topic && topic.includes('CellMotionDetector/Motion') && item && item.Value === true &&
          message.message.message.$.PropertyOperation === 'Changed') resolve(item);
    });
    setTimeout(() => reject(new Error('no motion event; the stand-in said:\n' + output)), 20000);
  });
  await new Promise((resolve) => setTimeout(resolve, 1500));  // the subscription is made
  camera.stdin.write('onvif-motion on\n');
  const item = await motion;
  assert.equal(item.Name, 'IsMotion');
  cam.removeAllListeners('event');

  // A wrong password is refused.
  await assert.rejects(new Promise((resolve, reject) => {
    const c = new Cam({hostname: '127.0.0.1', port, username: 'admin', password: 'wrong', timeout: 5000,
      preserveAddress: true}, (error) => (error ? reject(error) : resolve(c)));
  }));
  console.log('onvif package: connected, stream found, motion heard, wrong password refused');
} finally {
  camera.stdin.write('quit\n');
  camera.kill();
}
process.exit(0);
