// The result of a calculation, a section per row: the study size, the least
// and most favourable power with where they occur, the conversion, the notes
// on small cells, flat boxes and the simulation, and every column of the
// row. Each value cell carries its column name and its full-precision text
// (data-column, data-value) as the command line's csv has it.

// A cell's text for reading: powers and odds ratios to four decimals as in
// the command line's table, whole numbers whole, flags in words.
export function readable(text) {
  if (text === '' || text === undefined) return '';
  if (text === 'true') return 'yes';
  if (text === 'false') return 'no';
  if (!/^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$/.test(text)) return text;
  const value = Number(text);
  if (Number.isInteger(value) && Math.abs(value) < 1e15) return String(value);
  const magnitude = Math.abs(value);
  if (magnitude !== 0 && (magnitude < 1e-3 || magnitude >= 1e6)) return value.toPrecision(4);
  return value.toFixed(4);
}

function cell(tag, column, row, columnIndex) {
  const td = document.createElement(tag);
  if (column) {
    const text = columnIndex.has(column) ? row[columnIndex.get(column)] : '';
    td.dataset.column = column;
    td.dataset.value = text;
    td.textContent = readable(text);
  }
  return td;
}

function table(caption, headings, lines, row, columnIndex, className) {
  const t = document.createElement('table');
  if (className) t.className = className;
  const c = document.createElement('caption');
  c.textContent = caption;
  t.append(c);
  if (headings) {
    const tr = document.createElement('tr');
    for (const h of headings) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.textContent = h;
      tr.append(th);
    }
    t.createTHead().append(tr);
  }
  const body = t.createTBody();
  for (const [label, ...columns] of lines) {
    const tr = document.createElement('tr');
    const th = document.createElement('th');
    th.scope = 'row';
    th.textContent = label;
    tr.append(th);
    for (const column of columns) tr.append(cell('td', column, row, columnIndex));
    body.append(tr);
  }
  return t;
}

const has = (row, index, name) => index.has(name) && row[index.get(name)] !== '';

// The inputs that tell rows apart: the columns whose texts differ between
// rows, among the inputs before the results.
function varying(header, rows) {
  const names = [];
  for (let j = 0; j < header.length && header[j] !== 'size'; ++j) {
    if (rows.some((r) => r[j] !== rows[0][j])) names.push(j);
  }
  return names;
}

function rowSection(header, row, notes, index, number, varyingColumns) {
  const section = document.createElement('section');
  section.className = 'row-result';
  section.dataset.row = String(number - 1);
  const heading = document.createElement('h3');
  const label = varyingColumns.map((j) => `${header[j]} ${row[j]}`).join(', ');
  heading.textContent = `Row ${number}` + (label ? `: ${label}` : '');
  section.append(heading);

  if (has(row, index, 'error')) {
    const p = document.createElement('p');
    p.className = 'row-error';
    p.append('No answer: ');
    const span = cell('span', 'error', row, index);
    p.append(span);
    section.append(p);
  }
  const study = [['Study size (cases + controls)', 'size'], ['Cases', 'n_cases'], ['Controls', 'n_controls']];
  if (has(row, index, 'ror_detectable')) study.unshift(['Detectable ROR^tb', 'ror_detectable']);
  section.append(table('Study', null, study, row, index, 'facts'));

  const extremes = [['Least favourable', 'power_min', 'or_g_at_min', 'or_e_at_min'],
    ['Most favourable', 'power_max', 'or_g_at_max', 'or_e_at_max']];
  const headings = ['', 'Power', 'OR(G|E=0)', 'OR^tb(E|G=0)'];
  // The association and the carrier prevalence where a range of them was
  // searched (their columns hold the one value otherwise).
  for (const [name, title] of [['or_ge', 'OR^tb(G,E)'], ['gene_prevalence', 'Gene prevalence']]) {
    if (has(row, index, `${name}_low`)) {
      headings.push(title);
      extremes[0].push(`${name}_at_min`);
      extremes[1].push(`${name}_at_max`);
    }
  }
  headings.push('Expected case count below 5');
  extremes[0].push('small_cells_at_min');
  extremes[1].push('small_cells_at_max');
  section.append(table('Least and most favourable power over the box', headings, extremes, row, index, 'extremes'));

  section.append(table('Conversion and box', null, [
    ['Conditional OR^tb(E|G=0)', 'or_e_conditional'], ['Conditional OR(G|E=0)', 'or_g_conditional'],
    ['Solver verdict (1: converged)', 'solver_info'],
    ['OR^tb(E|G=0) searched from', 'or_e_low'], ['to', 'or_e_high'],
    ['OR(G|E=0) searched from', 'or_g_low'], ['to', 'or_g_high'],
    ['Power flat over the box', 'flat'],
  ], row, index, 'facts'));

  if (has(row, index, 'sim_replicates')) {
    section.append(table(`Simulation: ${row[index.get('sim_replicates')]} studies at each point`,
      ['', 'Formula', 'Simulated (Wald)', '+/-', 'Wald(var1)', 'Failed fits', 'LR', 'Unreliable'],
      [['Least favourable', 'power_min', 'sim_power_min', 'sim_se_min', 'wald_power_min', 'sim_failed_min', 'sim_lr_power_min', 'sim_unreliable_min'],
        ['Most favourable', 'power_max', 'sim_power_max', 'sim_se_max', 'wald_power_max', 'sim_failed_max', 'sim_lr_power_max', 'sim_unreliable_max']],
      row, index, 'extremes'));
    if (has(row, index, 'sim_cases')) {
      section.append(table('Size by simulation', null, [
        ['Cases whose simulated power reaches the target', 'sim_cases'],
        ['95 % interval from', 'sim_cases_low'], ['to', 'sim_cases_high'],
      ], row, index, 'facts'));
    }
  }
  if (notes?.length) {
    const list = document.createElement('ul');
    list.className = 'notes';
    list.setAttribute('aria-label', 'Notes');
    for (const note of notes) {
      const li = document.createElement('li');
      li.textContent = note;
      list.append(li);
    }
    section.append(list);
  }
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  summary.textContent = 'Every column of this row';
  details.append(summary, table('Every column, as in the csv', ['Column', 'Value'],
    header.map((name) => [name, name]), row, index, 'all-columns'));
  section.append(details);
  return section;
}

// Shows an answer {header, rows, notes} in `box`.
export function showRows(box, answer) {
  const index = new Map(answer.header.map((name, j) => [name, j]));
  const varyingColumns = varying(answer.header, answer.rows);
  box.replaceChildren(...answer.rows.map((row, i) =>
    rowSection(answer.header, row, answer.notes?.[i], index, i + 1, varyingColumns)));
}

export function csvLink(link, text) {
  if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([text], { type: 'text/csv' }));
  link.hidden = false;
}
