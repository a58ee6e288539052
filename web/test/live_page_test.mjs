// The live page in a real browser: digitizer-station runs against the simulator with --http on
// loopback and the bundled page as its web root; headless chromium loads the page, which must
// show the health the station reports, receive live records of every data channel over
// SeedLink/WebSocket and draw their traces.
//   node live_page_test.mjs STATION SIM WEBROOT [SCREENSHOT.png]
// Exits 77 (skipped) when no chromium is installed.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const [station, sim, webRoot, screenshot] = process.argv.slice(2);
const browserPath = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(existsSync);
if (!browserPath) {
  console.log('skipped: no chromium installed (apt-get install chromium)');
  process.exit(77);
}
if (!existsSync(join(webRoot, 'live.js'))) {
  console.error(`no bundled page in ${webRoot}`);
  process.exit(1);
}

const freePort = () => new Promise((resolve) => {
  const server = createServer();
  server.listen(0, '127.0.0.1', () => {
    const { port } = server.address();
    server.close(() => resolve(port));
  });
});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const failures = [];
const check = (ok, what) => {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures.push(what);
};

const dir = mkdtempSync(join(tmpdir(), 'live_page_'));
const children = [];
function start(program, args) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', (d) => { child.output += d; });
  children.push(child);
  return child;
}

let browser = null;
try {
  const simulator = start(sim, ['--channels', '6', '--gps', 'reports', '--link', join(dir, 'dev')]);
  for (let k = 0; k < 50 && !existsSync(join(dir, 'dev')); ++k) await sleep(100);
  writeFileSync(join(dir, 'station.ini'), '[Station]\n');
  const http = await freePort();
  const seedlink = await freePort();
  const base = `http://127.0.0.1:${http}`;
  const stationProcess = start(station, [
    join(dir, 'dev'), '--config', join(dir, 'station.ini'), '--archive', join(dir, 'archive'),
    '--status-file', join(dir, 'status.json'), '--flush-seconds', '1',
    '--seedlink', `127.0.0.1:${seedlink}`, '--seedlink-ring-file', join(dir, 'ring'),
    '--seedlink-flush', '1', '--http', String(http), '--http-root', webRoot,
  ]);

  // The station's own view, which the page must show.
  let status = null;
  const ready = (s) => s?.health && s.link_state === 'receiving' && s.channels?.length >= 6;
  for (let k = 0; k < 300 && !ready(status); ++k) {
    await sleep(100);
    try {
      const response = await fetch(`${base}/api/status`);
      if (response.ok) status = await response.json();
    } catch {
      // not listening yet
    }
  }
  check(status?.health != null, 'the station reports the unit\'s health in /api/status');
  if (!status?.health) throw new Error(`no status: ${simulator.output}\n${stationProcess.output}`);

  browser = await chromium.launch({ executablePath: browserPath, args: ['--no-sandbox'] });
  const page = await browser.newPage({ viewport: { width: 1200, height: 1100 } });
  const outside = [];
  page.on('request', (request) => {
    if (!request.url().startsWith(base) && !request.url().startsWith(`ws://127.0.0.1:${http}`)) {
      outside.push(request.url());
    }
  });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(`${base}/`);

  await page.waitForSelector('#health[data-healthy="true"]', { timeout: 15000 })
    .catch(() => {});
  check(await page.getAttribute('#health', 'data-healthy') === 'true',
    'the page shows the station healthy, as /api/health says');
  await page.waitForFunction(() => !document.getElementById('supply').textContent.startsWith('–'),
    null, { timeout: 10000 }).catch(() => {});
  const supply = await page.textContent('#supply');
  check(supply.includes(`${status.health.supply_volts.toFixed(2)} V`),
    `supply "${supply}" shows the station's ${status.health.supply_volts} V`);
  const temperatures = await page.textContent('#temperatures');
  check(temperatures.includes(`${status.health.sensor_celsius.toFixed(1)} °C`),
    `temperatures "${temperatures}" show the sensor's ${status.health.sensor_celsius} °C`);
  const recording = await page.textContent('#recording');
  check(recording.includes('link receiving') && recording.includes(`${status.channels.length} channels`),
    `recording "${recording}"`);
  check((await page.textContent('#alarms')) === 'none', 'no alarm stands');
  check((await page.textContent('#gps')).includes('GPS reports'), 'the GPS form is shown');
  check((await page.textContent('#disk')).includes('free in'), 'the archive\'s free space is shown');

  // Records of every data channel arrive over SeedLink/WebSocket and are drawn.
  const codes = status.channels.map((c) => c.code.split('.')[3]).filter((c) => !c.startsWith('L'));
  check(codes.length === 6, `six data channels in the status (${codes.join(' ')})`);
  await page.waitForFunction((wanted) => wanted.every((code) => [...document.querySelectorAll(
    '#records tr[data-stream]')].some((r) => r.dataset.stream.endsWith(`.${code}`) &&
    Number(r.dataset.records) >= 2)), codes, { timeout: 20000 }).catch(() => {});
  const counts = await page.$$eval('#records tr[data-stream]',
    (rows) => Object.fromEntries(rows.map((r) => [r.dataset.stream, Number(r.dataset.records)])));
  for (const code of codes) {
    const stream = Object.keys(counts).find((s) => s.endsWith(`.${code}`));
    check(stream !== undefined && counts[stream] >= 2,
      `records of ${code} received: ${stream ? counts[stream] : 0}`);
  }
  console.log(`     SeedLink: ${await page.textContent('#link')}`);
  check(Object.keys(counts).length === codes.length,
    `only the data channels are asked for (${Object.keys(counts).join(' ')})`);
  const drawn = await page.$$eval('#traces sp-seismograph',
    (plots) => plots.filter((p) => p.shadowRoot?.querySelector('canvas, svg')).length);
  check(drawn === codes.length, `${drawn} traces drawn for ${codes.length} channels`);
  check(outside.length === 0, `nothing fetched from elsewhere ${outside.join(' ')}`);
  check(errors.length === 0, `no script errors ${errors.join('; ')}`);
  if (screenshot) {
    await sleep(2000);
    await page.screenshot({ path: screenshot, fullPage: true });
  }
} catch (error) {
  failures.push(error.message);
  console.log(`FAIL ${error.stack}`);
} finally {
  if (browser) await browser.close();
  for (const child of children.reverse()) child.kill('SIGTERM');
  await sleep(300);
  rmSync(dir, { recursive: true, force: true });
}
console.log(failures.length === 0 ? 'passed' : `${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
