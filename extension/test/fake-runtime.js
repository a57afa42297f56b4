// A scripted stand-in for chrome.runtime's native ports: each connectNative makes a FakePort
// whose posted messages the test reads and answers, and whose disconnect it can trigger with a
// lastError text, the way Chromium reports a missing or forbidden host.

export class FakePort {
    constructor(runtime, name) {
        this.runtime = runtime;
        this.name = name;
        this.posted = [];
        this.closed = false;
        this.messageListeners = [];
        this.disconnectListeners = [];
        this.waiters = [];
        this.onMessage = {addListener: (fn) => this.messageListeners.push(fn)};
        this.onDisconnect = {addListener: (fn) => this.disconnectListeners.push(fn)};
    }

    postMessage(message) {
        if (this.closed) {
            throw new Error('Attempting to use a disconnected port object');
        }
        // Chromium serialises the message: the receiver never shares the sender's objects.
        this.posted.push(JSON.parse(JSON.stringify(message)));
        this.waiters.splice(0).forEach((wake) => wake());
    }

    disconnect() { this.closed = true; }

    // The next message the client posted, waiting for it if need be.
    async next() {
        while (this.posted.length === 0) {
            await new Promise((resolve) => this.waiters.push(resolve));
        }
        return this.posted.shift();
    }

    // Sends a message to the client as the host would.
    emit(message) { this.messageListeners.forEach((fn) => fn(message)); }

    // A reply with the request's envelope.
    answer(request, type, body = {}) {
        this.emit({
            ...body,
            type,
            protocolVersion: '1.0',
            session: request.session,
            requestId: request.requestId
        });
    }

    event(session, type, body) { this.emit({...body, type, protocolVersion: '1.0', session}); }

    // Chromium ends the port: lastError is set only while the listeners run.
    hostGone(text) {
        this.closed = true;
        this.runtime.lastError = text === undefined ? undefined : {message: text};
        this.disconnectListeners.forEach((fn) => fn(this));
        this.runtime.lastError = undefined;
    }

    // Reads the client's HELLO and answers HELLO_OK, by default as a host that arms one clip per
    // drag.
    async greet(capabilities = ['drag-takeover-1']) {
        const hello = await this.next();
        this.answer(hello, 'HELLO_OK', {helperVersion: '0.1.0', capabilities});
        return hello;
    }
}

export class FakeRuntime {
    constructor() {
        this.ports = [];
        this.lastError = undefined;
        this.waiters = [];
    }

    connectNative(name) {
        const port = new FakePort(this, name);
        this.ports.push(port);
        this.waiters.splice(0).forEach((wake) => wake());
        return port;
    }

    async port(index) {
        while (this.ports.length <= index) {
            await new Promise((resolve) => this.waiters.push(resolve));
        }
        return this.ports[index];
    }
}
