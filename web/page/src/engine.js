// The page's side of the engine's worker: each call posts {id, op, request}
// and resolves with the engine's answer; progress messages go to the
// caller's callback. The worker (and its copy of the module) is started at
// the first call, or by start(). cancel() terminates it (the only way to stop
// a calculation running inside WebAssembly); the pending call then rejects
// with a Cancelled error, and the next call starts a fresh worker.
//
// The worker's script, with the engine module inside it, comes with the
// page's bundle and is started from a Blob URL, made once for all workers:
// it loads nothing, so the page works from a file: address as from a server.
import workerText from 'engine-worker';

let workerAddress;
function workerUrl() {
  workerAddress ??= URL.createObjectURL(new Blob([workerText], { type: 'text/javascript' }));
  return workerAddress;
}

export class Cancelled extends Error {
  constructor() {
    super('cancelled');
    this.name = 'Cancelled';
  }
}

export class Engine {
  constructor() {
    this.nextId = 1;
    this.pending = new Map();
    this.worker = null;
  }

  start() {
    if (this.worker) return;
    this.worker = new Worker(workerUrl());
    this.worker.onmessage = (event) => this.receive(event.data);
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.failAll(new Error(event.message || 'the calculator could not be loaded'));
    };
  }

  receive(message) {
    const call = this.pending.get(message.id);
    if (!call) return;
    if (message.type === 'progress') {
      call.progress?.(message.done, message.total);
      return;
    }
    this.pending.delete(message.id);
    if (message.type === 'result') call.resolve(message.value);
    else call.reject(new Error(message.message));
  }

  failAll(error) {
    for (const call of this.pending.values()) call.reject(error);
    this.pending.clear();
  }

  call(op, request, progress) {
    const id = this.nextId++;
    this.start();
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, progress });
      this.worker.postMessage({ id, op, request });
    });
  }

  cancel() {
    this.worker?.terminate();
    this.worker = null;
    this.failAll(new Cancelled());
  }
}
