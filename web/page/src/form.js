// The design form, built from the engine's column table: one field per input
// of a power, size or detect calculation in the table's order, labelled with
// the column's help and default, the two ends of a range side by side, and
// the simulation's settings, which are not columns. A request holds the texts
// typed, keyed by column name, as the engine and the query string take them.

// The fields each calculation uses; the others are hidden (and not sent) in
// that mode. The engine still checks whatever is sent.
const MODES_OF = {
  cases: ['power', 'detect'],
  power: ['size', 'detect'],
  ror: ['power', 'size'],
  direction: ['detect'],
  size_by: ['size'],
};

// The simulation's settings, with their words; the engine checks them.
const SETTINGS = [
  { name: 'simulate', help: 'simulation check: studies drawn at the least and the most favourable point, each analysed with the Wald and the likelihood-ratio tests (10000 is a good number; 0 or empty: no simulation)' },
  { name: 'seed', help: 'seed of the simulated studies: the same seed gives the same studies (empty: the fixed seed of every front end)' },
  { name: 'size_by', help: 'size calculations: formula, the size of the large-sample formula; simulation, also the fewest cases whose simulated power reaches the target at the least favourable point', choices: ['formula', 'simulation'], default: 'formula' },
];

// The curve's own inputs.
export const CURVE_SETTINGS = [
  { name: 'over', help: 'the axis: the number of cases or ROR^tb' },
  { name: 'from', help: 'start of the axis, greater than 0' },
  { name: 'to', help: 'end of the axis, greater than the start' },
  { name: 'points', help: 'points on each curve, 2 to 1000 (empty: the default number); cases evenly spaced, ROR^tb evenly on the log scale' },
];

function sentence(text) {
  return text.charAt(0).toUpperCase() + text.slice(1);
}

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value !== undefined && value !== null) node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

// One control with its label, its help and its error line. `label` is the
// visible label; the help (with the default) describes the control.
function control(entry, label, help) {
  const id = `f-${entry.name}`;
  const describedBy = `e-${entry.name}` + (help ? ` h-${entry.name}` : '');
  let input;
  if (entry.choices?.length) {
    input = element('select', { id, name: entry.name, 'aria-describedby': describedBy });
    if (!entry.default) input.append(element('option', { value: '' }, '(not given)'));
    for (const choice of entry.choices) {
      const option = element('option', { value: choice }, choice);
      if (choice === entry.default) option.selected = true;
      input.append(option);
    }
  } else {
    const numeric = ['number', 'whole_number', 'numbers'].includes(entry.kind);
    input = element('input', {
      id, name: entry.name, type: 'text', autocomplete: 'off', spellcheck: 'false',
      inputmode: numeric ? 'decimal' : undefined, 'aria-describedby': describedBy,
    });
  }
  const box = element('div', { class: 'field', 'data-field': entry.name });
  box.append(element('label', { for: id }, label));
  if (help) box.append(element('p', { class: 'help', id: `h-${entry.name}` }, help));
  box.append(input, element('p', { class: 'error', id: `e-${entry.name}`, 'aria-live': 'polite' }));
  return box;
}

function withDefault(entry) {
  // A list column's help names the separator of a csv cell; a field takes
  // the command line's commas.
  const help = entry.kind === 'numbers' ? `${sentence(entry.help)}; here separated by commas` : sentence(entry.help);
  return entry.default ? `${help} (default ${entry.default})` : help;
}

function codeLabel(text, name) {
  const span = element('span', {}, text + ' ');
  span.append(element('code', {}, name));
  return span;
}

// Builds the mode choices and the fields from the column table into the
// form; returns the entries of the fields, by name.
export function buildForm(columns, modeBox, fieldsBox) {
  const entries = new Map();
  const byName = new Map(columns.map((c) => [c.name, c]));
  const modeColumn = byName.get('mode');
  modeBox.replaceChildren();
  for (const choice of modeColumn.choices) {
    const id = `mode-${choice}`;
    const radio = element('input', { type: 'radio', name: 'mode', id, value: choice });
    if (choice === modeColumn.choices[0]) radio.checked = true;
    modeBox.append(element('span', { class: 'choice' }, radio, element('label', { for: id }, choice)));
  }
  fieldsBox.replaceChildren();
  const inputs = columns.filter((c) => (c.role === 'input' || c.role === 'alias') && c.name !== 'mode');
  for (const entry of inputs) {
    if (entry.name.endsWith('_high') && byName.has(entry.name.replace(/_high$/, '_low'))) continue;
    const high = entry.name.endsWith('_low') ? byName.get(entry.name.replace(/_low$/, '_high')) : null;
    if (high) {
      // A range: both ends in one group, named by the range's help.
      const legendId = `l-${entry.name}`;
      const group = element('fieldset', { class: 'range', 'data-field': entry.name, 'aria-describedby': legendId });
      group.append(element('legend', { id: legendId }, codeLabel(withDefault(entry), entry.option ?? '')));
      group.append(control(entry, codeLabel('Low end', entry.name), null));
      group.append(control(high, codeLabel('High end', high.name), null));
      fieldsBox.append(group);
      entries.set(entry.name, entry);
      entries.set(high.name, high);
    } else {
      fieldsBox.append(control(entry, codeLabel(withDefault(entry), entry.name), null));
      entries.set(entry.name, entry);
    }
  }
  for (const entry of SETTINGS) {
    fieldsBox.append(control(entry, codeLabel(withDefault(entry), entry.name), null));
    entries.set(entry.name, entry);
  }
  return entries;
}

export function buildCurveFields(columns, box) {
  const over = columns.find((c) => c.name === 'over');
  box.replaceChildren();
  for (const setting of CURVE_SETTINGS) {
    const entry = setting.name === 'over' ? { ...setting, choices: over.choices, default: over.choices[0] } : setting;
    box.append(control(entry, codeLabel(sentence(entry.help), entry.name), null));
  }
}

export function currentMode(form) {
  return form.querySelector('input[name=mode]:checked')?.value;
}

// Hides the fields the chosen calculation does not use.
export function showModeFields(form) {
  const mode = currentMode(form);
  for (const [name, modes] of Object.entries(MODES_OF)) {
    const box = form.querySelector(`[data-field="${name}"]`);
    if (box) box.hidden = !modes.includes(mode);
  }
}

// The request of the form: the mode and every visible field that is not
// empty, by column name.
export function readRequest(form) {
  const request = { mode: currentMode(form) };
  for (const input of form.querySelectorAll('input[type=text], select')) {
    if (input.closest('[hidden]')) continue;
    const value = input.value.trim();
    if (value !== '') request[input.name] = value;
  }
  return request;
}

// Fills the form from a query string's pairs; returns the keys that name no
// field, which are sent as they are (the engine names them when it refuses
// them).
export function fillForm(form, pairs) {
  const unknown = {};
  for (const [key, value] of pairs) {
    if (key === 'mode') {
      const radio = form.querySelector(`input[name=mode][value="${CSS.escape(value)}"]`);
      if (radio) radio.checked = true;
      else unknown[key] = value;
      continue;
    }
    const input = form.elements.namedItem(key);
    if (!input || input instanceof RadioNodeList) {
      unknown[key] = value;
    } else if (input.tagName === 'SELECT' && ![...input.options].some((o) => o.value === value)) {
      // A value the list does not offer: keep it as an option, so that the
      // engine's check names it rather than the page dropping it.
      input.append(element('option', { value }, value));
      input.value = value;
    } else {
      input.value = value;
    }
  }
  showModeFields(form);
  return unknown;
}

// The query string of a request: the column names as keys, without the
// choices left at their defaults.
export function queryOf(request, entries) {
  const params = new URLSearchParams();
  for (const [key, value] of Object.entries(request)) {
    const entry = entries.get(key);
    if (entry?.choices?.length && entry.default === value) continue;
    params.set(key, value);
  }
  return params.toString().replaceAll('%2C', ',');
}

// Shows the errors next to their fields; those naming no field shown go to
// `general`. With `only`, the other fields' errors are left as they are and
// errors of fields not in `only` are not shown (while the user types, only
// the fields already touched are judged).
export function showErrors(form, errors, general, only = null) {
  const byInput = new Map();
  const rest = [];
  for (const e of errors) {
    const line = form.querySelector(`#e-${CSS.escape(e.input ?? '')}`);
    if (line && !line.closest('[hidden]')) {
      if (!byInput.has(e.input)) byInput.set(e.input, []);
      byInput.get(e.input).push(e.message);
    } else {
      rest.push(e.input ? `${e.input}: ${e.message}` : e.message);
    }
  }
  for (const line of form.querySelectorAll('p.error[id^="e-"]')) {
    const name = line.id.slice(2);
    if (only && !only.has(name)) continue;
    const messages = byInput.get(name) ?? [];
    if (line.textContent !== messages.join(' ')) line.textContent = messages.join(' ');
    const input = form.querySelector(`#f-${CSS.escape(name)}`);
    if (input) {
      if (messages.length) input.setAttribute('aria-invalid', 'true');
      else input.removeAttribute('aria-invalid');
    }
  }
  if (general && !only) general.textContent = rest.join(' ');
  return [...byInput.keys()];
}
