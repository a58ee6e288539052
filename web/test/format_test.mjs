// The live page's text of the station's status, its choice of streams and its events table.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { agoText, bytesText, dataStreams, eventRows, healthLines } from '../src/format.js';

const now = Date.parse('2026-12-08T12:00:00Z');

test('data streams: state-of-health streams and malformed codes are left out', () => {
  const cases = [
    [['XY.ALPHA..HHZ', 'XY.ALPHA..LEV', 'XY.ALPHA..LK3', 'XY.ALPHA..LCF', 'XY.ALPHA..LKS'],
      ['.HHZ']],
    [['XY.ALPHA.00.BHN', 'XY.ALPHA.00.LHZ'], ['00.BHN', '00.LHZ']],
    [['XY.ALPHA.HHZ', 'XY.ALPHA..hhz', 'XY.ALPHA.000.HHZ', 'XY.ALPHA..HHZZ'], []],
  ];
  for (const [codes, wanted] of cases) {
    const got = dataStreams(codes.map((code) => ({ code }))).map((s) => `${s.location}.${s.channel}`);
    assert.deepEqual(got, wanted, codes.join(' '));
  }
  assert.deepEqual(dataStreams(undefined), []);
  assert.deepEqual(dataStreams([{ code: 'XY.ALPHA..HHZ' }])[0],
    { network: 'XY', station: 'ALPHA', location: '', channel: 'HHZ' });
});

test('health lines: what warns', () => {
  const healthy = {
    link_state: 'receiving',
    channels: [{ code: 'XY.A..HHZ', last_sample_utc: '2026-12-08T11:59:58Z' }],
    health: { supply_volts: 12.004, supply_milliamps: 215.2, sensor_celsius: 23.84,
      module_celsius: [24.8, 24.5], clock_source: 'gps',
      gps: { form: 'reports', fix: true, satellites: 9, latitude: 46.952061, longitude: 7.44 } },
    alarms: [],
    archive: '/srv/archive',
    archive_free_bytes: 3 * 1024 ** 3,
    seedlink: { clients: [{}, {}] },
  };
  const cases = [
    ['healthy', healthy, { recording: false, gps: false, alarms: false }],
    ['link lost', { ...healthy, link_state: 'waiting' }, { recording: true }],
    ['free-running clock', { ...healthy, health: { ...healthy.health, clock_source: 'free-running' } },
      { gps: true }],
    ['alarm', { ...healthy, alarms: [{ name: 'supply_low', value: 10.5, threshold: 11, unit: 'V' }] },
      { alarms: true }],
  ];
  for (const [name, status, warns] of cases) {
    const lines = healthLines(status, now);
    for (const [id, warn] of Object.entries(warns)) assert.equal(lines[id].warn, warn, `${name}: ${id}`);
  }
  const lines = healthLines(healthy, now);
  assert.equal(lines.supply.text, '12.00 V, 215 mA');
  assert.equal(lines.temperatures.text, 'sensor 23.8 °C, modules 24.8, 24.5 °C');
  assert.equal(lines.gps.text, 'clock gps; GPS reports, fix, 9 satellites, at 46.95206 7.44000');
  assert.equal(lines.disk.text, '3.0 GiB free in /srv/archive; – queued');
  assert.equal(lines.clients.text, 'SeedLink 2 clients');
  assert.match(lines.recording.text, /^link receiving, 1 channels, newest sample 2 s ago/);
  assert.equal(healthLines({ ...healthy, alarms: [{ name: 'supply_low', value: 10.5, threshold: 11, unit: 'V' }] },
    now).alarms.text, 'supply_low: 10.5 V (threshold 11 V)');
  // Before the unit's first block there is no health section.
  assert.equal(healthLines({ link_state: 'opening' }, now).supply.text, 'no reading from the unit yet');
});

test('events: newest first, a running one without duration', () => {
  const events = { recent: [
    { id: 1, start: 'a', end: 'b', duration: 12.34, cut: false, channels: [1, 2], peak_ratio: 5.55 },
    { id: 2, start: 'c', end: 'd', duration: 60, cut: true, channels: [3], peak_ratio: 9 },
    { id: 3, start: 'e', end: null, channels: [1], peak_ratio: 4 },
  ] };
  assert.deepEqual(eventRows(events), [
    ['3', 'e', 'running', '1', '4.0'],
    ['2', 'c', '60.0 s (cut)', '3', '9.0'],
    ['1', 'a', '12.3 s', '1 2', '5.5'],
  ]);
  assert.deepEqual(eventRows(events, 1).map((r) => r[0]), ['3']);
  assert.deepEqual(eventRows([]), []);
});

test('sizes and ages', () => {
  for (const [bytes, text] of [[0, '0 B'], [1023, '1023 B'], [1536, '1.5 KiB'],
    [5 * 1024 ** 4, '5.0 TiB'], [null, '–'], [-1, '–']]) {
    assert.equal(bytesText(bytes), text);
  }
  for (const [utc, text] of [['2026-12-08T11:59:50Z', '10 s ago'], ['2026-12-08T11:50:00Z', '10 min ago'],
    ['2026-12-08T06:00:00Z', '6 h ago'], [undefined, 'never'], ['2026-12-08T12:00:05Z', '0 s ago']]) {
    assert.equal(agoText(utc, now), text);
  }
});
