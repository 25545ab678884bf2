// Logs in to a zent-recorder page in Debian's headless Chromium and saves what it shows.
// Usage: node screenshot.mjs URL USER PASSWORD OUT.png
import puppeteer from 'puppeteer-core';

const [url, user, password, out] = process.argv.slice(2);
const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu']});
try {
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 800});
  await page.goto(url + '/login', {waitUntil: 'load'});
  await page.type('input[name=user]', user);
  await page.type('input[name=password]', password);
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  await page.waitForFunction(() => document.querySelectorAll('#list img').length > 0 &&
    [...document.querySelectorAll('#list img')].every((i) => i.complete), {timeout: 20000});
  await page.screenshot({path: out});
} finally {
  await browser.close();
}
