// A loopback HTTP server whose pages go wrong mid-load, by path: /truncated sends the headers and
// part of a chunked page, then breaks the connection; /stall sends as much and then nothing more;
// /silent never answers; /waits-on-image is a whole page whose one image is /silent. Prints "port N"
// once it listens on 127.0.0.1:N.
import net from 'node:net';

const page = `<!DOCTYPE html><html><body><p>The first part of a page${' '.repeat(4096)}<p>and no more`;
const waiting = '<!DOCTYPE html><img src="/silent">';
const head = 'HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nTransfer-Encoding: chunked\r\n' +
    'Cache-Control: no-store\r\n\r\n';

const server = net.createServer((socket) => {
    let request = '';
    socket.on('error', () => {});
    socket.on('data', (data) => {
        if (request.includes('\r\n\r\n') || !(request += data).includes('\r\n\r\n')) return;
        const path = request.split(' ')[1];
        if (path === '/silent') return;
        if (path === '/waits-on-image') return socket.end(`${head}${waiting.length.toString(16)}\r\n${waiting}\r\n0\r\n\r\n`);
        // One chunk and never the closing empty one.
        socket.write(`${head}${Buffer.byteLength(page).toString(16)}\r\n${page}\r\n`);
        // A reset rather than an orderly close, once the client has taken in what was sent.
        if (path === '/truncated') setTimeout(() => socket.resetAndDestroy(), 500);
    });
});
server.listen(0, '127.0.0.1', () => console.log(`port ${server.address().port}`));
