// Plain text of the station's status for the health panel, and the rows of the events table.
// No DOM here, so that node can check it too.

const na = '–';

function number(value, digits) {
  return typeof value === 'number' && Number.isFinite(value) ? value.toFixed(digits) : null;
}

export function bytesText(bytes) {
  if (typeof bytes !== 'number' || !Number.isFinite(bytes) || bytes < 0) return na;
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit += 1;
  }
  return `${unit === 0 ? value : value.toFixed(1)} ${units[unit]}`;
}

// The seconds since `utc` (ISO text) at `nowMs`, as "12 s ago", "3 min ago", "2 h ago".
export function agoText(utc, nowMs) {
  const then = Date.parse(utc ?? '');
  if (Number.isNaN(then)) return 'never';
  const seconds = Math.max(0, Math.round((nowMs - then) / 1000));
  if (seconds < 120) return `${seconds} s ago`;
  if (seconds < 7200) return `${Math.round(seconds / 60)} min ago`;
  return `${Math.round(seconds / 3600)} h ago`;
}

// Each panel line: { text, warn } by the panel's element id.
export function healthLines(status, nowMs) {
  const lines = {};
  const s = status ?? {};
  const channels = Array.isArray(s.channels) ? s.channels : [];
  const newest = channels
    .map((c) => c.last_sample_utc)
    .filter((t) => typeof t === 'string')
    .sort()
    .pop();
  const linkUp = s.link_state === 'receiving';
  lines.recording = {
    text: `link ${s.link_state ?? 'unknown'}, ${channels.length} channels, newest sample ` +
      `${agoText(newest, nowMs)}; ${s.blocks_received ?? 0} blocks, ${s.gaps ?? 0} gaps, ` +
      `${s.dropped_samples ?? 0} samples dropped`,
    warn: !linkUp,
  };

  const h = s.health;
  if (h && typeof h === 'object') {
    const g = h.gps ?? {};
    let gps = `clock ${h.clock_source ?? 'unknown'}; GPS ${g.form ?? 'none'}`;
    if (g.form && g.form !== 'none') {
      gps += g.fix === true || g.fix === 'yes' ? ', fix' : ', no fix';
      if (typeof g.satellites === 'number') gps += `, ${g.satellites} satellites`;
      const lat = number(g.latitude, 5);
      const lon = number(g.longitude, 5);
      if (lat !== null && lon !== null) gps += `, at ${lat} ${lon}`;
      if (typeof g.altitude_m === 'number') gps += `, ${g.altitude_m} m`;
    }
    lines.gps = { text: gps, warn: h.clock_source !== 'gps' };
    lines.supply = {
      text: `${number(h.supply_volts, 2) ?? na} V, ${number(h.supply_milliamps, 0) ?? na} mA`,
      warn: false,
    };
    const modules = (Array.isArray(h.module_celsius) ? h.module_celsius : [])
      .map((t) => number(t, 1))
      .filter((t) => t !== null);
    lines.temperatures = {
      text: `sensor ${number(h.sensor_celsius, 1) ?? na} °C` +
        (modules.length ? `, modules ${modules.join(', ')} °C` : ''),
      warn: false,
    };
  } else {
    for (const id of ['gps', 'supply', 'temperatures']) {
      lines[id] = { text: 'no reading from the unit yet', warn: false };
    }
  }

  lines.disk = {
    text: `${bytesText(s.archive_free_bytes)} free in ${s.archive ?? na}; ` +
      `${bytesText(s.queued_bytes)} queued`,
    warn: false,
  };

  const alarms = Array.isArray(s.alarms) ? s.alarms : [];
  lines.alarms = {
    text: alarms.length === 0
      ? 'none'
      : alarms
        .map((a) => `${a.name}: ${a.value}${a.unit ? ' ' + a.unit : ''} ` +
          `(threshold ${a.threshold}${a.unit ? ' ' + a.unit : ''})`)
        .join('; '),
    warn: alarms.length > 0,
  };

  const parts = [];
  if (s.seedlink && typeof s.seedlink === 'object') {
    const n = Array.isArray(s.seedlink.clients) ? s.seedlink.clients.length : 0;
    parts.push(`SeedLink ${n} ${n === 1 ? 'client' : 'clients'}`);
  }
  if (s.datalink && typeof s.datalink === 'object') {
    parts.push(`DataLink ${s.datalink.server ?? ''} ` +
      `${s.datalink.connected ? 'connected' : 'not connected'}`);
  }
  lines.clients = { text: parts.length ? parts.join('; ') : 'no SeedLink or DataLink', warn: false };
  return lines;
}

// The events section's newest events, newest first, as table cells.
export function eventRows(events, count = 20) {
  const recent = events && Array.isArray(events.recent) ? events.recent : [];
  return recent
    .slice(-count)
    .reverse()
    .map((e) => [
      String(e.id ?? ''),
      String(e.start ?? ''),
      e.end == null ? 'running'
        : `${number(e.duration, 1) ?? na} s${e.cut ? ' (cut)' : ''}`,
      Array.isArray(e.channels) ? e.channels.join(' ') : String(e.channels ?? ''),
      number(e.peak_ratio, 1) ?? na,
    ]);
}

// The data channels among the status's streams ("XY.ALPHA.00.HHZ"), without the state-of-health
// streams (LEV, LEC, LKS, LK1...LK6, LCS, LCF), as the page asks SeedLink for them.
export function dataStreams(channels) {
  const streams = [];
  for (const c of Array.isArray(channels) ? channels : []) {
    const parts = typeof c?.code === 'string' ? c.code.split('.') : [];
    if (parts.length !== 4) continue;
    const [network, station, location, channel] = parts;
    if (!/^[A-Z0-9]{3}$/.test(channel) || !/^[A-Z0-9]{0,2}$/.test(location)) continue;
    if (/^L(E[VC]|K[S1-6]|C[SF])$/.test(channel)) continue;
    streams.push({ network, station, location, channel });
  }
  return streams;
}
