// The figure of a curve's rows, drawn as SVG with Observable Plot in the
// style of the command line's figures: for power, a band per curve from the
// least to the most favourable power with both edges drawn and the computed
// points marked on the least favourable edge; for the study size and the
// detectable ROR^tb, a line per curve. Curves differ in colour lightness and
// in line style, so they stay apart in grey. A point without an answer
// breaks its line.
import * as Plot from '@observablehq/plot';

// Dark enough on white for graphics contrast (3:1 at least), of clearly
// different lightness, each with its own dash pattern.
export const CURVE_COLOURS = ['#1f3b73', '#b34700', '#7a5c00', '#000000', '#1b6d96', '#00795a'];
const DASHES = [undefined, '8 4', '12 3 3 3', '2 3', '10 6', '5 3'];

const WHAT = {
  power: { y: 'Power', column: 'power_min' },
  size: { y: 'Study size (cases + controls)', column: 'size' },
  detect: { y: 'Detectable ROR^tb', column: 'ror_detectable' },
};
const CURVE_NAME = { cases: 'ROR^tb', ror: 'cases', size: 'target power', detect: 'target power' };

function number(text) {
  return text === '' || text === undefined ? NaN : Number(text);
}

// The points of an answer {header, rows}: per row its axis value, curve and
// the quantity drawn.
export function curvePoints(answer) {
  const j = new Map(answer.header.map((name, i) => [name, i]));
  const get = (row, name) => (j.has(name) ? row[j.get(name)] : '');
  return answer.rows.map((row) => ({
    x: number(get(row, 'x')),
    curve: get(row, 'curve'),
    over: get(row, 'over'),
    mode: get(row, 'mode'),
    low: number(get(row, 'power_min')),
    high: number(get(row, 'power_max')),
    size: number(get(row, 'size')),
    detect: number(get(row, 'ror_detectable')),
  }));
}

// The SVG element of the figure.
export function drawCurve(answer, { width = 640 } = {}) {
  const points = curvePoints(answer);
  const quantity = points[0]?.mode === 'size' ? 'size' : points[0]?.mode === 'detect' ? 'detect' : 'power';
  const over = points[0]?.over ?? 'cases';
  const curves = [...new Set(points.map((p) => p.curve))];
  const style = (c) => curves.indexOf(c) % CURVE_COLOURS.length;
  const colour = (c) => CURVE_COLOURS[style(c)];
  const dash = (c) => DASHES[style(c)];
  const curveName = CURVE_NAME[quantity === 'power' ? over : quantity];
  const value = quantity === 'power' ? 'low' : quantity;
  const ys = points.map((p) => p[value]).filter(Number.isFinite);
  const logY = quantity === 'detect' ||
    (quantity === 'size' && ys.length > 0 && Math.max(...ys) > 10 * Math.min(...ys));

  const marks = [Plot.frame({ stroke: '#595959' })];
  for (const c of curves) {
    const mine = points.filter((p) => p.curve === c);
    const options = { x: 'x', stroke: colour(c), strokeWidth: 2, strokeDasharray: dash(c) };
    if (quantity === 'power') {
      marks.push(Plot.areaY(mine, { x: 'x', y1: 'low', y2: 'high', fill: colour(c), fillOpacity: 0.2 }));
      marks.push(Plot.lineY(mine, { ...options, y: 'high', strokeWidth: 1.25 }));
    }
    marks.push(Plot.lineY(mine, { ...options, y: value }));
    marks.push(Plot.dot(mine.filter((p) => Number.isFinite(p[value])), {
      x: 'x', y: value, r: 2.5, fill: colour(c), className: 'curve-point',
      title: (p) => `${curveName} ${c}: ${over === 'ror' ? 'ROR^tb' : 'cases'} ${p.x}, ${WHAT[quantity].y.toLowerCase()} ${p[value]}`,
    }));
  }
  // The legend in the right margin, a line per curve in its colour, so that
  // it travels with the SVG and PNG files.
  curves.forEach((c, i) => {
    marks.push(Plot.text([c], {
      frameAnchor: 'top-right', dx: 10, dy: 8 + 18 * i, textAnchor: 'start', fill: colour(c),
      text: () => `\u2014 ${curveName} ${c}`, fontSize: 12, fontWeight: 600,
    }));
  });
  const svg = Plot.plot({
    width,
    height: Math.round(width * 0.62),
    marginRight: 130,
    marginLeft: 60,
    style: { background: '#ffffff', color: '#1a1a1a', fontSize: '12px' },
    x: { label: over === 'ror' ? 'ROR^tb' : 'Number of cases', type: over === 'ror' ? 'log' : 'linear', grid: true },
    y: { label: WHAT[quantity].y, type: logY ? 'log' : 'linear', grid: true, ...(quantity === 'power' ? { domain: [0, 1] } : {}) },
    ariaLabel: `${WHAT[quantity].y} against ${over === 'ror' ? 'ROR^tb' : 'the number of cases'}, a curve per ${curveName}`,
    marks,
  });
  svg.setAttribute('role', 'img');
  svg.setAttribute('xmlns', 'http://www.w3.org/2000/svg');
  return svg;
}

// The figure's SVG as a standalone file.
export function svgText(svg) {
  return '<?xml version="1.0" encoding="UTF-8"?>\n' + new XMLSerializer().serializeToString(svg);
}

// The figure as PNG, at twice its size on a white background.
export function pngBlob(svg, scale = 2) {
  const width = Number(svg.getAttribute('width'));
  const height = Number(svg.getAttribute('height'));
  const url = URL.createObjectURL(new Blob([svgText(svg)], { type: 'image/svg+xml' }));
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => {
      const canvas = document.createElement('canvas');
      canvas.width = width * scale;
      canvas.height = height * scale;
      const context = canvas.getContext('2d');
      context.fillStyle = '#ffffff';
      context.fillRect(0, 0, canvas.width, canvas.height);
      context.drawImage(image, 0, 0, canvas.width, canvas.height);
      URL.revokeObjectURL(url);
      canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error('no PNG'))), 'image/png');
    };
    image.onerror = () => {
      URL.revokeObjectURL(url);
      reject(new Error('the figure could not be drawn as PNG'));
    };
    image.src = url;
  });
}
