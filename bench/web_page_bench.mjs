// Opens zent-recorder's page in Debian's headless Chromium on a cold cache (a fresh browser
// profile, a recorder that has made no thumbnail yet) and times how long after the navigation the
// first thumbnail, and every thumbnail in view, is shown. Then the same page again with the
// browser's cache off, the recorder's thumbnails made. Usage: node web_page_bench.mjs URL USER PASSWORD
// Prints "RESULT first_thumbnail_ms=… visible_thumbnails_ms=… visible=… again_ms=…".

import {launchChromium, openPage} from '../tests/browser/harness.mjs';

const [url, user, password] = process.argv.slice(2);

// Milliseconds from the navigation until the first thumbnail, and until all in view, are drawn.
async function open(page) {
  const start = Date.now();
  await page.goto(url + '/', {waitUntil: 'domcontentloaded'});
  let first = -1;
  for (;;) {
    const state = await page.evaluate(() => {
      const inView = [...document.querySelectorAll('#list li img')].filter((img) => {
        const box = img.getBoundingClientRect();
        return box.bottom > 0 && box.top < window.innerHeight;
      });
      return {inView: inView.length, drawn: inView.filter((img) => img.complete && img.naturalWidth > 0).length};
    });
    if (state.drawn > 0 && first < 0) first = Date.now() - start;
    if (state.inView > 0 && state.drawn === state.inView) {
      if (process.env.ZENT_BENCH_TRACE) console.log(JSON.stringify(await page.evaluate(() => performance.getEntriesByType('resource').map((e) => [e.name.slice(22), Math.round(e.startTime), Math.round(e.responseEnd)]))));
      return {first, all: Date.now() - start, visible: state.inView};
    }
    if (Date.now() - start > 20000) throw new Error('thumbnails not shown in 20 s: ' + JSON.stringify(state));
    await new Promise((r) => setTimeout(r, 5));
  }
}

const browser = await launchChromium();
try {
  const {page} = await openPage(browser, 1280, 800);
  // Logged in from the log-in page without opening the list, so no thumbnail is asked for yet.
  await page.goto(url + '/login', {waitUntil: 'load'});
  const status = await page.evaluate(async (user, password) => (await fetch('/api/login', {
    method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify({user, password})})).status,
  user, password);
  if (status !== 200) throw new Error('log-in answered ' + status);
  const cold = await open(page);
  await page.setCacheEnabled(false);
  const again = await open(page);
  console.log(`RESULT first_thumbnail_ms=${cold.first} visible_thumbnails_ms=${cold.all} visible=${cold.visible} ` +
              `again_ms=${again.all}`);
} finally {
  await browser.close();
}
