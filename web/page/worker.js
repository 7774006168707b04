// The engine's worker: loads the WebAssembly module once and answers the
// page's messages {id, op, request} with {id, type: 'result', value} (the
// engine's JSON answer, parsed), {id, type: 'progress', done, total} during a
// simulation, or {id, type: 'failure', message} when the module itself
// fails. The page cancels long work by terminating this worker and starting
// a new one, so nothing here needs to be interruptible.
//
// The page's build puts this script after the engine module's loader
// (createGxeplanEngine) and the module itself in base64 (ENGINE_WASM), and
// the page starts it from a Blob URL: a worker that fetches nothing runs the
// same from a web server and from a file: address, where a browser neither
// starts a worker from a file nor fetches one.
const bytes = atob(ENGINE_WASM);
const wasm = new Uint8Array(bytes.length);
for (let i = 0; i < bytes.length; ++i) wasm[i] = bytes.charCodeAt(i);
const engine = createGxeplanEngine({ wasmBinary: wasm });

self.onmessage = async (event) => {
  const { id, op, request } = event.data;
  try {
    const module = await engine;
    const text = JSON.stringify(request ?? {});
    const progress = (done, total) => self.postMessage({ id, type: 'progress', done, total });
    let answer;
    switch (op) {
      case 'columns': answer = module.columns(); break;
      case 'check': answer = module.check(text); break;
      case 'calculate': answer = module.calculate(text, progress); break;
      case 'curve': answer = module.curve(text, progress); break;
      default: throw new Error(`unknown operation ${op}`);
    }
    self.postMessage({ id, type: 'result', value: JSON.parse(answer) });
  } catch (error) {
    self.postMessage({ id, type: 'failure', message: String(error?.message ?? error) });
  }
};
