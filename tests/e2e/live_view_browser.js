// A real browser on the live view: headless Chromium, driven by puppeteer-core, logs in
// with the Digest login, shows the live page and measures the stream as it arrives.
//
//   node live_view_browser.js URL USER PASSWORD OUT_DIR
//
// Writes OUT_DIR/live_page.png (the whole page) and OUT_DIR/live_frame.png (the picture
// element alone) and prints one JSON line: the texts shown, the frames per second the page
// received over 5 s, and the HTTP status of the page.
'use strict';
const path = require('path');
const puppeteer = require('puppeteer-core');

async function main() {
  const [url, user, password, out] = process.argv.slice(2);
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--window-size=480,640'],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 480, height: 640});
    await page.authenticate({username: user, password: password});
    const response = await page.goto(url, {waitUntil: 'domcontentloaded', timeout: 20000});
    // The picture is there once the image element has a frame of the camera's size.
    await page.waitForFunction(() => document.getElementById('live').naturalWidth > 0,
                               {timeout: 20000});
    await page.waitForFunction(() => document.getElementById('time').textContent !== '',
                               {timeout: 20000});
    const first = await page.$eval('#time', e => e.textContent);
    await new Promise(r => setTimeout(r, 2500));
    const later = await page.$eval('#time', e => e.textContent);
    const shown = await page.evaluate(() => ({
      device: document.getElementById('device').textContent,
      status: document.getElementById('status').textContent,
      width: document.getElementById('live').naturalWidth,
      height: document.getElementById('live').naturalHeight,
    }));
    await page.screenshot({path: path.join(out, 'live_page.png')});
    const picture = await page.$('#live');
    await picture.screenshot({path: path.join(out, 'live_frame.png')});
    // The stream as the page receives it: frames counted over 5 s.
    const frames = await page.evaluate(async () => {
      const reply = await fetch('/stream.mjpg?count', {cache: 'no-store'});
      const reader = reply.body.getReader();
      const decoder = new TextDecoder('latin1');
      const end = performance.now() + 5000;
      let count = 0, tail = '';
      while (performance.now() < end) {
        const {value, done} = await reader.read();
        if (done) break;
        const text = tail + decoder.decode(value);
        count += text.split('--talvexframe').length - 1;
        tail = text.slice(-12);  // shorter than a boundary: none is counted twice
      }
      reader.cancel();
      return count;
    });
    console.log(JSON.stringify({
      http: response.status(), first_time: first, later_time: later, fps: frames / 5,
      ...shown,
    }));
  } finally {
    await browser.close();
  }
}

main().catch(error => {
  console.error(error);
  process.exit(1);
});
