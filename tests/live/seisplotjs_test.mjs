// seisplotjs reads the station over WebSocket, with SeedLink 3.1 and with
// 4.0: the records it decodes must equal the archive's, byte for byte and
// sample for sample. INFO's JSON is validated against the FDSN schema.
//
//   node --experimental-websocket seisplotjs_test.mjs ws://127.0.0.1:PORT ARCHIVE_DAY_FILE
import { readFileSync } from "node:fs";

// seisplotjs's bundle defines custom elements at load time: shapes enough of
// a browser for it to load in Node (the SeedLink and miniSEED parts use none).
for (const name of ["HTMLElement", "HTMLDivElement", "HTMLSpanElement", "HTMLInputElement", "HTMLSelectElement",
                    "HTMLTableElement", "HTMLCanvasElement", "SVGElement", "Element", "Node"])
  if (!(name in globalThis)) globalThis[name] = class {};
if (!globalThis.customElements) globalThis.customElements = { define() {}, get() { return undefined; } };
if (!globalThis.window) globalThis.window = globalThis;

const sp = await import("seisplotjs");
const Ajv = (await import("ajv")).default;

const [url, archiveFile] = process.argv.slice(2);
const schema = JSON.parse(readFileSync(new URL("./seedlink-4.0-info.schema.json", import.meta.url)));
const failures = [];
const check = (ok, what) => {
  console.log(`${ok ? "ok" : "FAILED"}: ${what}`);
  if (!ok) failures.push(what);
};

function withTimeout(promise, ms, what) {
  return Promise.race([promise, new Promise((_, reject) => setTimeout(() => reject(new Error(`${what}: no answer in ${ms} ms`)), ms))]);
}

// The first `count` packets of a connection.
function collect(Connection, config, count, prepare) {
  return new Promise((resolve, reject) => {
    const got = [];
    const conn = new Connection(url, config, (packet) => {
      got.push(packet);
      if (got.length === count) {
        conn.close();
        resolve(got);
      }
    }, reject);
    if (prepare) prepare(conn);
    conn.connect();
  });
}

// The archive's GY0 records, by start time, as seisplotjs decodes them.
const archiveBytes = readFileSync(archiveFile);
const archive = new Map();
for (let at = 0; at + 512 <= archiveBytes.length; at += 512) {
  const raw = archiveBytes.subarray(at, at + 512);
  const record = sp.miniseed.parseSingleDataRecord(new DataView(raw.buffer, raw.byteOffset, 512));
  archive.set(record.header.startTime.toISO(), { raw: Buffer.from(raw), samples: Array.from(record.decompress()) });
}
check(archive.size > 0, `the archive's day file holds records (${archive.size})`);

function sameAsArchive(record, raw, label) {
  const key = record.header.startTime.toISO();
  const held = archive.get(key);
  check(held !== undefined, `${label}: record at ${key} is in the archive`);
  if (!held) return;
  if (raw) check(Buffer.compare(held.raw, Buffer.from(raw)) === 0, `${label}: record at ${key} byte for byte the archive's`);
  const samples = Array.from(record.decompress());
  check(samples.length > 0 && JSON.stringify(samples) === JSON.stringify(held.samples),
        `${label}: ${samples.length} samples at ${key} equal the archive's`);
}

// SeedLink 3.1: multi-station, from the first record the ring holds.
const v3 = await withTimeout(collect(sp.seedlink.SeedlinkConnection, ["STATION ZQD01 XX", "SELECT 00GY0.D"], 4,
                                     (conn) => { conn.command = "DATA 000000"; }), 60000, "SeedLink 3.1");
let last = -1;
for (const p of v3) {
  check(p.miniseed.header.chanCode === "GY0", `3.1: packet ${p.rawsequence} is GY0`);
  check(p.sequence > last, `3.1: sequence ${p.sequence} grows`);
  last = p.sequence;
  sameAsArchive(p.miniseed, null, "3.1");  // 3.1's callback gives the parsed record only
}

// SeedLink 4.0: the SE packets, from the earliest held.
const v4 = await withTimeout(collect(sp.seedlink4.SeedlinkConnection, ["STATION XX_ZQD01", "SELECT 00_G_Y_0", "DATA ALL"], 4),
                             60000, "SeedLink 4.0");
let last4 = -1n;
for (const p of v4) {
  check(p.stationId === "XX_ZQD01", `4.0: station id ${p.stationId}`);
  check(p.sequence > last4, `4.0: sequence ${p.sequence} grows`);
  last4 = p.sequence;
  const record = p.asMiniseed();
  check(record.header.chanCode === "GY0", "4.0: the record is GY0");
  const payload = p._rawPayload;
  sameAsArchive(record, payload ? new Uint8Array(payload.buffer, payload.byteOffset, payload.byteLength) : null, "4.0");
}

// INFO as JSON, valid against the schema, over a bare WebSocket.
const ajv = new Ajv({ strict: false });
const validate = ajv.compile(schema);
const ws = new WebSocket(url, "SeedLink4.0");
ws.binaryType = "arraybuffer";
await withTimeout(new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; }), 10000, "WebSocket");
check(ws.protocol === "SeedLink4.0", `the sub-protocol is echoed (${ws.protocol})`);
const messages = [];
let waiting = null;
ws.onmessage = (event) => { messages.push(new Uint8Array(event.data)); if (waiting) waiting(); };
const next = async () => {
  while (messages.length === 0) await withTimeout(new Promise((r) => { waiting = r; }), 10000, "an answer");
  return messages.shift();
};
ws.send("SLPROTO 4.0\r\n");
check(new TextDecoder().decode(await next()) === "OK\r\n", "SLPROTO 4.0 answered OK");
for (const item of ["ID", "FORMATS", "CAPABILITIES", "STATIONS", "STREAMS XX_ZQD01 *", "CONNECTIONS", "NOTHING"]) {
  ws.send(`INFO ${item}\r\n`);
  const packet = await next();
  const sub = String.fromCharCode(packet[3]);
  const length = new DataView(packet.buffer, packet.byteOffset).getUint32(4, true);
  const json = JSON.parse(new TextDecoder().decode(packet.subarray(17, 17 + length)));
  check(String.fromCharCode(packet[2]) === "J" && sub === (item === "NOTHING" ? "E" : "I"), `INFO ${item}: a J${sub} packet`);
  check(validate(json), `INFO ${item}: valid against the schema ${validate.errors ? JSON.stringify(validate.errors) : ""}`);
  if (item.startsWith("STREAMS")) check(json.station?.[0]?.stream?.some((s) => s.id === "00_G_Y_0"), "INFO STREAMS lists 00_G_Y_0");
}
ws.close();

console.log(failures.length === 0 ? "all passed" : `${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
