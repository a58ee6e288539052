// The station's live page: its health from /api/status and /api/health every few seconds, the
// live traces of every data channel by SeedLink over WebSocket (/seedlink), and the newest
// events from /api/events. Everything comes from the station that serves the page.
import * as sp from 'seisplotjs';
import { agoText, dataStreams, eventRows, healthLines } from './format.js';

const { DateTime, Duration } = sp.luxon;
const WINDOW = Duration.fromISO('PT10M');
const POLL_MS = 3000;

const $ = (id) => document.getElementById(id);

async function getJson(path) {
  const response = await fetch(path, { cache: 'no-store' });
  let body = null;
  try {
    body = await response.json();
  } catch {
    body = null;
  }
  return { status: response.status, body };
}

let lastStatus = null;

function showStatus(status) {
  lastStatus = status;
  const lines = healthLines(status, Date.now());
  for (const [id, line] of Object.entries(lines)) {
    const element = $(id);
    if (!element) continue;
    element.textContent = line.text;
    element.classList.toggle('warn', line.warn);
  }
  $('updated').textContent = `status of ${status.updated_utc ?? '?'}, ${status.program ?? ''} ${status.version ?? ''}`;
}

function showHealth(health) {
  const badge = $('health');
  const healthy = health?.healthy === true;
  badge.className = `badge ${healthy ? 'ok' : 'bad'}`;
  badge.dataset.healthy = healthy ? 'true' : 'false';
  badge.textContent = healthy ? 'healthy' : `not healthy: ${health?.reason ?? 'no answer'}`;
}

function showEvents(events) {
  const detector = $('detector');
  if (events && typeof events === 'object' && !Array.isArray(events)) {
    detector.textContent = `${events.detected ?? 0} detected; detector ${events.state ?? 'unknown'}` +
      (events.state === 'idle' && events.idle_reason ? ` (${events.idle_reason})` : '');
  } else {
    detector.textContent = 'the event detector is not running';
  }
  const body = $('events').tBodies[0];
  body.replaceChildren(
    ...eventRows(events).map((cells) => {
      const row = document.createElement('tr');
      for (const cell of cells) {
        const td = document.createElement('td');
        td.textContent = cell;
        row.appendChild(td);
      }
      return row;
    }),
  );
}

async function poll() {
  try {
    const [status, health, events] = await Promise.all([
      getJson('/api/status'),
      getJson('/api/health'),
      getJson('/api/events'),
    ]);
    if (status.status === 200 && status.body) showStatus(status.body);
    showHealth(health.body);
    showEvents(events.body);
    if (status.body && !seedlink) startTraces(status.body);
  } catch (error) {
    showHealth({ healthy: false, reason: `station not reachable (${error.message})` });
  } finally {
    setTimeout(poll, POLL_MS);
  }
}

// Records received per stream, shown beside the traces (and read by the page's test).
const received = new Map();

function countRecord(record) {
  const header = record.header;
  const code = `${header.netCode}.${header.staCode}.${header.locCode}.${header.chanCode}`;
  let entry = received.get(code);
  if (!entry) {
    const row = document.createElement('tr');
    row.dataset.stream = code;
    row.innerHTML = '<td></td><td class="num count"></td><td class="last"></td>';
    row.cells[0].textContent = code;
    const body = $('records').tBodies[0];
    const after = [...body.rows].find((r) => r.dataset.stream > code) ?? null;
    body.insertBefore(row, after);
    entry = { row, count: 0, last: null };
    received.set(code, entry);
  }
  entry.count += 1;
  entry.last = header.endTime;
  entry.row.cells[1].textContent = String(entry.count);
  entry.row.dataset.records = String(entry.count);
  entry.row.cells[2].textContent = entry.last.toISO();
}

setInterval(() => {
  for (const entry of received.values()) {
    if (entry.last) entry.row.cells[2].title = agoText(entry.last.toISO(), Date.now());
  }
}, 5000);

let seedlink = null;
let linkError = '';
let display = null;

function startTraces(status) {
  const streams = dataStreams(status.channels);
  if (streams.length === 0) return;
  $('title').textContent = `${streams[0].network}.${streams[0].station}`;
  document.title = `${streams[0].network}.${streams[0].station} live`;
  if (!display) {
    display = sp.animatedseismograph.createRealtimeDisplay({
      duration: WINDOW,
      alignmentTime: DateTime.utc(),
      removeTrend: true,
    });
    $('traces').appendChild(display.organizedDisplay);
    display.organizedDisplay.draw();
    display.animationScaler.animate();
  }
  const url = `${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/seedlink`;
  seedlink = new sp.seedlink.SeedlinkConnection(
    url,
    // Multi-station mode (STATION, SELECT..., TIME, END), as the seedlink client speaks it.
    [`STATION ${streams[0].station} ${streams[0].network}`,
      ...streams.map((s) => `SELECT ${s.location}${s.channel}.D`)],
    (packet) => {
      countRecord(packet.miniseed);
      display.packetHandler(packet);
    },
    (error) => {
      linkError = error.message;
      $('link').textContent = `SeedLink: ${error.message}`;
    },
  );
  seedlink.setOnClose(() => {
    $('link').textContent = `disconnected${linkError ? ` (${linkError})` : ''}; reconnecting`;
    seedlink = null;
    // The next poll starts again from what is missing.
  });
  // From ten minutes back, or from the newest record already shown.
  const newest = [...received.values()].map((e) => e.last).filter(Boolean).sort().pop();
  seedlink.setTimeCommand(newest ?? DateTime.utc().minus(WINDOW));
  linkError = '';
  $('link').textContent = `from ${url}`;
  seedlink.connect();
}

poll();
