// A SeedLink client over WebSocket, as a browser page runs one (Node's own WebSocket, which
// browsers share): HELLO, SELECT, DATA from the oldest packet held, COUNT packets, then BYE.
// Prints one JSON line per answer and packet, then how the connection ended.
//   node --experimental-websocket seedlink_ws_client.mjs URL SELECT COUNT
const [url, select, count] = process.argv.slice(2);
const ws = new WebSocket(url, 'SeedLink3.1');
ws.binaryType = 'arraybuffer';
const text = (bytes) => new TextDecoder().decode(bytes);
let stage = 0;
let packets = 0;
setTimeout(() => { console.log(JSON.stringify({ timeout: true })); process.exit(1); }, 20000);
ws.onopen = () => ws.send('HELLO');
ws.onmessage = (event) => {
  if (typeof event.data === 'string') {
    console.log(JSON.stringify({ textMessage: event.data }));
    return;
  }
  const bytes = new Uint8Array(event.data);
  if (stage === 0) {
    console.log(JSON.stringify({ hello: text(bytes), protocol: ws.protocol }));
    stage = 1;
    ws.send(`SELECT ${select}`);
  } else if (stage === 1) {
    console.log(JSON.stringify({ select: text(bytes) }));
    stage = 2;
    ws.send('DATA 000000\r\n');
  } else {
    console.log(JSON.stringify({
      length: bytes.length,
      head: text(bytes.subarray(0, 8)),
      station: text(bytes.subarray(16, 21)).trim(),
      channel: text(bytes.subarray(23, 26)),
    }));
    if (++packets === Number(count)) {
      ws.send('BYE');
    }
  }
};
ws.onclose = (event) => {
  console.log(JSON.stringify({ closed: true, packets }));
  process.exit(0);
};
ws.onerror = () => console.log(JSON.stringify({ error: true }));
