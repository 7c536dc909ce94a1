// A SeedLink 4.0 client on plain TCP: asks STATION * and DATA FROM, reads
// COUNT packets and prints "sequence channel start" for each, then leaves.
//   node resume_client.mjs PORT FROM COUNT      (FROM: a sequence number or ALL)
import net from "node:net";

const [port, from, count] = process.argv.slice(2);
const want = Number(count);
const socket = net.connect(Number(port), "127.0.0.1");
let buffer = Buffer.alloc(0), answers = 0, got = 0;
const timer = setTimeout(() => { console.error(`only ${got} of ${want} packets`); process.exit(1); }, 60000);
socket.on("connect", () => socket.write(`SLPROTO 4.0\r\nSTATION *\r\nDATA ${from}\r\nEND\r\n`));
socket.on("data", (chunk) => {
  buffer = Buffer.concat([buffer, chunk]);
  while (answers < 3) {
    const end = buffer.indexOf("\r\n");
    if (end < 0) return;
    const line = buffer.subarray(0, end).toString();
    if (line !== "OK") { console.error(`answer: ${line}`); process.exit(1); }
    buffer = buffer.subarray(end + 2);
    ++answers;
  }
  while (buffer.length >= 17) {
    const length = buffer.readUInt32LE(4), idLength = buffer[16], total = 17 + idLength + length;
    if (buffer.length < total) return;
    const seq = buffer.readBigUInt64LE(8);
    const record = buffer.subarray(17 + idLength, total);
    // The fixed header: channel at 15, start (BTIME) at 20.
    const channel = record.subarray(15, 18).toString();
    const start = [record.readUInt16BE(20), record.readUInt16BE(22), record[24], record[25], record[26], record.readUInt16BE(28)].join(".");
    console.log(`${seq} ${channel} ${start}`);
    buffer = buffer.subarray(total);
    if (++got === want) { clearTimeout(timer); socket.end(); process.exit(0); }
  }
});
socket.on("error", (e) => { console.error(e.message); process.exit(1); });
