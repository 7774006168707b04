// The page: builds the form from the engine's columns, checks the inputs as
// they are typed, calculates on demand (or at once when the address carries
// a design), shows the rows, draws curves and offers the downloads. Three
// workers: one answers the checks while another calculates, and a third
// draws curves, so that cancelling one piece of work leaves the others.
// Each loads its own copy of the module.
import { Engine, Cancelled } from './engine.js';
import {
  buildForm, buildCurveFields, showModeFields, readRequest, fillForm, queryOf,
  showErrors, CURVE_SETTINGS,
} from './form.js';
import { showRows, csvLink } from './results.js';
import { drawCurve, svgText, pngBlob } from './curve.js';

const $ = (id) => document.getElementById(id);
const form = $('design');
const curveForm = $('curve-form');
const checker = new Engine();
const runner = new Engine();
const plotter = new Engine();  // started by the first curve
// The calculator's worker loads beside the checker's, so that the first
// calculation finds it ready.
runner.start();
let entries = new Map();
let extras = {};  // keys of the address that name no field
const touched = new Set();
let submitted = false;
let checkSequence = 0;

function designRequest() {
  return { ...extras, ...readRequest(form) };
}

function curveRequest() {
  const request = { ...designRequest(), ...curveFields() };
  request.quantity = request.mode;
  // The axis takes the place of its field's values.
  delete request[request.over === 'ror' ? 'ror' : 'cases'];
  return request;
}

// Judges the fields as they are typed: only those already touched, until
// the first calculation asked for.
const isCurveKey = (key) => CURVE_SETTINGS.some((s) => s.name === key);

function curveFields() {
  const fields = {};
  for (const { name } of CURVE_SETTINGS) {
    const value = curveForm.elements.namedItem(name).value.trim();
    if (value !== '') fields[name] = value;
  }
  return fields;
}

async function checkAsTyped() {
  const sequence = ++checkSequence;
  const answer = await checker.call('check', { ...designRequest(), ...curveFields() }).catch(() => null);
  if (!answer || sequence !== checkSequence) return;
  const design = answer.errors.filter((e) => !isCurveKey(e.input));
  showErrors(form, design, $('form-error'), submitted ? null : touched);
  showErrors(curveForm, answer.errors.filter((e) => isCurveKey(e.input)), null, touched);
}

let checkTimer = 0;
function scheduleCheck(event) {
  if (event?.target?.name) touched.add(event.target.name);
  // Keys of the address that named no field are dropped once the user edits.
  extras = {};
  clearTimeout(checkTimer);
  checkTimer = setTimeout(checkAsTyped, 120);
}

function focusFirstError() {
  const invalid = form.querySelector('[aria-invalid=true]');
  if (invalid) invalid.focus();
}

function setAddress(request, curve) {
  let query = queryOf(request, entries);
  if (curve) {
    const params = new URLSearchParams();
    for (const { name } of CURVE_SETTINGS) if (curve[name] !== undefined) params.set(name, curve[name]);
    query += '&' + params.toString();
  }
  history.replaceState(null, '', `${location.pathname}?${query}`);
}

function progressShower(box, bar, text, what) {
  return (done, total) => {
    box.hidden = false;
    bar.max = Math.max(total, 1);
    bar.value = done;
    text.textContent = `${done} of ${total} ${what}`;
  };
}

let lastCurve = null;

// The controls of a piece of work: its button, its Cancel button and its
// progress, set for work running or done.
const CALCULATION = ['calculate', 'cancel', 'progress-box'];
const CURVE = ['draw', 'curve-cancel', 'curve-progress-box'];
function setBusy([button, cancel, progress], busy) {
  $(button).disabled = busy;
  $(cancel).hidden = !busy;
  $(progress).hidden = true;
}

const withoutAnswer = (answer) => answer.rows.filter((r) => r[answer.header.indexOf('error')] !== '').length;

async function calculate() {
  submitted = true;
  const request = designRequest();
  const status = $('status');
  let check;
  try {
    check = await checker.call('check', request);
  } catch (error) {
    status.textContent = `The check failed: ${error.message}`;
    return;
  }
  const fields = showErrors(form, check.errors, $('form-error'));
  if (check.errors.length) {
    status.textContent = `Nothing calculated: ${check.errors.length === 1 ? 'one entry needs' : `${check.errors.length} entries need`} correcting.`;
    if (fields.length) focusFirstError();
    return;
  }
  status.textContent = 'Calculating…';
  setBusy(CALCULATION, true);
  const started = performance.now();
  try {
    const answer = await runner.call('calculate', request,
      progressShower($('progress-box'), $('progress'), $('progress-text'), 'simulated studies'));
    if (answer.error) {
      showErrors(form, [answer.error], $('form-error'));
      status.textContent = 'Nothing calculated: ' + answer.error.message;
      focusFirstError();
      return;
    }
    showRows($('rows'), answer);
    csvLink($('csv-download'), answer.csv);
    setAddress(request, lastCurve);
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    const failed = withoutAnswer(answer);
    status.textContent = `${answer.rows.length} row${answer.rows.length === 1 ? '' : 's'} calculated in ${seconds} s` +
      (failed ? `; ${failed} without an answer (see the row)` : '') + '.';
    document.body.dataset.calculated = String(Number(document.body.dataset.calculated ?? 0) + 1);
  } catch (error) {
    status.textContent = error instanceof Cancelled ? 'Cancelled: nothing was calculated.' : `The calculation failed: ${error.message}`;
  } finally {
    setBusy(CALCULATION, false);
  }
}

let figureUrls = [];
async function curve() {
  const request = curveRequest();
  const status = $('curve-status');
  const curveError = $('curve-error');
  status.textContent = 'Calculating the curve…';
  setBusy(CURVE, true);
  try {
    const answer = await plotter.call('curve', request,
      progressShower($('curve-progress-box'), $('curve-progress'), $('curve-progress-text'), 'done'));
    if (answer.error) {
      // The curve's own settings are judged in its form, the rest in the design's.
      const curveOwn = isCurveKey(answer.error.input);
      showErrors(curveOwn ? curveForm : form, [answer.error], curveOwn ? curveError : $('form-error'));
      status.textContent = 'Nothing drawn: ' + answer.error.message;
      (curveOwn ? curveForm : form).querySelector('[aria-invalid=true]')?.focus();
      return;
    }
    showErrors(curveForm, [], curveError);
    const svg = drawCurve(answer, { width: Math.min(760, Math.max(320, $('curves').clientWidth - 8)) });
    $('plot').replaceChildren(svg);
    $('figure').hidden = false;
    $('figure-caption').textContent = svg.getAttribute('aria-label') + '.';
    for (const url of figureUrls) URL.revokeObjectURL(url);
    const svgUrl = URL.createObjectURL(new Blob([svgText(svg)], { type: 'image/svg+xml' }));
    const csvUrl = URL.createObjectURL(new Blob([answer.csv], { type: 'text/csv' }));
    figureUrls = [svgUrl, csvUrl];
    $('svg-download').href = svgUrl;
    $('curve-csv-download').href = csvUrl;
    $('figure-downloads').hidden = false;
    $('png-download').hidden = true;
    pngBlob(svg).then((blob) => {
      const pngUrl = URL.createObjectURL(blob);
      figureUrls.push(pngUrl);
      $('png-download').href = pngUrl;
      $('png-download').hidden = false;
    }, (error) => { status.textContent += ` ${error.message}.`; });
    lastCurve = Object.fromEntries(CURVE_SETTINGS.filter((s) => request[s.name] !== undefined)
      .map((s) => [s.name, request[s.name]]));
    setAddress(designRequest(), lastCurve);
    const failed = withoutAnswer(answer);
    status.textContent = `${answer.rows.length} points drawn` + (failed ? `; ${failed} without an answer break their lines` : '') + '.';
  } catch (error) {
    status.textContent = error instanceof Cancelled ? 'Cancelled: no curve was drawn.' : `The curve failed: ${error.message}`;
  } finally {
    setBusy(CURVE, false);
  }
}

async function start() {
  const columns = await checker.call('columns');
  entries = buildForm(columns, $('mode-choices'), $('fields'));
  buildCurveFields(columns, $('curve-fields'));
  showModeFields(form);
  form.addEventListener('input', scheduleCheck);
  form.addEventListener('change', (event) => {
    if (event.target.name === 'mode') showModeFields(form);
    scheduleCheck(event);
  });
  curveForm.addEventListener('input', scheduleCheck);
  curveForm.addEventListener('change', scheduleCheck);
  form.addEventListener('submit', (event) => { event.preventDefault(); calculate(); });
  curveForm.addEventListener('submit', (event) => { event.preventDefault(); curve(); });
  $('cancel').addEventListener('click', () => {
    runner.cancel();
    runner.start();
  });
  $('curve-cancel').addEventListener('click', () => plotter.cancel());
  $('share').addEventListener('click', async () => {
    setAddress(designRequest(), lastCurve);
    try {
      await navigator.clipboard.writeText(location.href);
      $('status').textContent = 'The link to this design is copied.';
    } catch {
      $('status').textContent = `The link to this design: ${location.href}`;
    }
  });
  for (const id of ['calculate', 'draw', 'share']) $(id).disabled = false;
  document.body.dataset.ready = 'true';

  // A design in the address is calculated at once.
  const pairs = [...new URLSearchParams(location.search)];
  if (pairs.length) {
    const curvePairs = pairs.filter(([k]) => isCurveKey(k));
    const designPairs = pairs.filter(([k]) => !isCurveKey(k));
    extras = fillForm(form, designPairs);
    for (const [k, v] of curvePairs) curveForm.elements.namedItem(k).value = v;
    if (curvePairs.length) lastCurve = Object.fromEntries(curvePairs);
    await calculate();
    if (curvePairs.length) await curve();
  }
}

start().catch((error) => {
  $('loading').textContent = `The calculator could not be loaded: ${error.message}`;
});
