// The board page: draws the game the server keeps, sends the person's moves,
// and follows the engines through a long poll that the server answers as
// soon as anything changes (or after a few seconds, so nothing waits long).
"use strict";

const SVG = "http://www.w3.org/2000/svg";
const CELL = 32;
const MARGIN = 34;
const POLL_WAIT_MS = 10000;
const REQUEST_TIMEOUT_MS = 25000;
const $ = (id) => document.getElementById(id);

let gameId = null;
let version = -1;
let current = null;     // the last state received
let logSeq = 0;         // newest log line shown
let thinkSince = 0;     // page clock when the shown think time was read
let busy = false;       // a request of the person is on its way
let boardKey = "";      // what the drawn board shows
let overlayKey = "";    // what the drawn PV and hint show
let listKey = "";       // what the move list shows
let graphKey = "";      // what the graph shows
let reviewAt = null;    // moves shown while reviewing; null: the game as it is

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

async function api(method, path, body) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), REQUEST_TIMEOUT_MS);
  try {
    const options = { method, signal: controller.signal, headers: {} };
    if (body !== undefined) {
      options.headers["Content-Type"] = "application/json";
      options.body = JSON.stringify(body);
    }
    const response = await fetch(path, options);
    const type = response.headers.get("Content-Type") || "";
    const data = type.startsWith("application/json") ? await response.json() : await response.text();
    if (!response.ok) {
      throw new Error((data && data.error) || ("HTTP " + response.status));
    }
    return data;
  } finally {
    clearTimeout(timer);
  }
}

function notice(text) {
  const box = $("notice");
  box.textContent = text || "";
  box.hidden = !text;
}

// -- drawing ------------------------------------------------------------------

function el(name, attrs, parent, text) {
  const node = document.createElementNS(SVG, name);
  for (const key in attrs) node.setAttribute(key, attrs[key]);
  if (text !== undefined) node.textContent = text;
  if (parent) parent.appendChild(node);
  return node;
}

// A move x,y is row x from the top and column y from the left, as the engine
// counts them; people read columns as letters and rows from the bottom.
function px(y) { return MARGIN + y * CELL; }
function py(x) { return MARGIN + x * CELL; }
function pointName(x, y, height) { return String.fromCharCode(65 + y) + (height - x); }

// What the board shows: the game, or its first `reviewAt` moves (without the
// forbidden marks and the result, which belong to the game as it is).
function boardView(s) {
  if (reviewAt === null) return s;
  return { settings: s.settings, moves: s.moves.slice(0, reviewAt),
    times: s.times.slice(0, reviewAt), forbidden: [], result: null };
}

function drawBoard(s) {
  const { width, height } = s.settings;
  const svg = $("board");
  while (svg.firstChild) svg.removeChild(svg.firstChild);
  const w = 2 * MARGIN + (width - 1) * CELL;
  const h = 2 * MARGIN + (height - 1) * CELL;
  svg.setAttribute("viewBox", `0 0 ${w} ${h}`);
  svg.setAttribute("width", w);
  svg.setAttribute("height", h);
  el("rect", { x: 0, y: 0, width: w, height: h, class: "wood" }, svg);
  const grid = el("g", { class: "grid" }, svg);
  for (let x = 0; x < height; x++) el("line", { x1: px(0), y1: py(x), x2: px(width - 1), y2: py(x) }, grid);
  for (let y = 0; y < width; y++) el("line", { x1: px(y), y1: py(0), x2: px(y), y2: py(height - 1) }, grid);
  if (width >= 9 && height >= 9) {
    const cx = Math.floor(height / 2), cy = Math.floor(width / 2);
    for (const [x, y] of [[cx, cy], [3, 3], [3, width - 4], [height - 4, 3], [height - 4, width - 4]]) {
      el("circle", { cx: px(y), cy: py(x), r: 3.5, class: "star" }, svg);
    }
  }
  for (let y = 0; y < width; y++) {
    const letter = String.fromCharCode(65 + y);
    el("text", { x: px(y), y: MARGIN / 2 - 2, class: "coord" }, svg, letter);
    el("text", { x: px(y), y: h - MARGIN / 2 + 2, class: "coord" }, svg, letter);
  }
  for (let x = 0; x < height; x++) {
    el("text", { x: MARGIN / 2 - 2, y: py(x), class: "coord" }, svg, String(height - x));
    el("text", { x: w - MARGIN / 2 + 2, y: py(x), class: "coord" }, svg, String(height - x));
  }

  for (const [x, y, reason] of s.forbidden) {
    const d = CELL * 0.22;
    const g = el("g", { class: "forbidden", "data-x": x, "data-y": y }, svg);
    el("title", {}, g, "forbidden for black: " + reason);
    el("line", { x1: px(y) - d, y1: py(x) - d, x2: px(y) + d, y2: py(x) + d }, g);
    el("line", { x1: px(y) - d, y1: py(x) + d, x2: px(y) + d, y2: py(x) - d }, g);
  }

  const numbers = $("numbers").checked;
  s.moves.forEach(([x, y], i) => {
    const colour = i % 2 === 0 ? "black" : "white";
    const stone = el("circle", { cx: px(y), cy: py(x), r: CELL * 0.45, class: "stone " + colour,
      "data-x": x, "data-y": y, "data-move": i + 1 }, svg);
    const ms = s.times[i];
    el("title", {}, stone, `${i + 1}. ${colour} ${pointName(x, y, height)} (${x},${y})` +
      (ms === null ? "" : `, ${ms} ms`));
  });
  if (s.result && s.result.line.length) {
    const a = s.result.line[0], b = s.result.line[s.result.line.length - 1];
    el("line", { x1: px(a[1]), y1: py(a[0]), x2: px(b[1]), y2: py(b[0]), class: "win", id: "win-line" }, svg);
  }
  // Numbers above the winning line, so they stay readable.
  if (numbers) {
    s.moves.forEach(([x, y], i) => {
      const colour = i % 2 === 0 ? "black" : "white";
      el("text", { x: px(y), y: py(x), class: "number on-" + colour }, svg, String(i + 1));
    });
  }
  if (s.moves.length && !numbers) {
    const [x, y] = s.moves[s.moves.length - 1];
    el("circle", { cx: px(y), cy: py(x), r: 4.5, class: "last", id: "last-move" }, svg);
  } else if (s.moves.length) {
    const [x, y] = s.moves[s.moves.length - 1];
    el("circle", { cx: px(y), cy: py(x), r: CELL * 0.48, class: "last-ring", id: "last-move",
      fill: "none", stroke: "#e23c2a", "stroke-width": 2 }, svg);
  }
  // The principal variation and the hint go here, redrawn on their own.
  el("g", { id: "overlay" }, svg);
  // Click targets last, above everything else.
  for (let x = 0; x < height; x++) {
    for (let y = 0; y < width; y++) {
      el("rect", { x: px(y) - CELL / 2, y: py(x) - CELL / 2, width: CELL, height: CELL,
        class: "hit", "data-x": x, "data-y": y }, svg);
    }
  }
}

// The engine's principal variation as faint numbered stones (from the side
// thinking on), and the hint's point. Only on the live board.
function drawOverlay(s) {
  const layer = $("overlay");
  if (!layer) return;
  while (layer.firstChild) layer.removeChild(layer.firstChild);
  if (reviewAt !== null) return;
  const a = s.analysis;
  if (a && s.thinking && $("show-thinking").checked) {
    const taken = new Set(s.moves.map(([x, y]) => x + "," + y));
    let colour = a.colour;
    for (let i = 0; i < a.pv.length; i++) {
      const [x, y] = a.pv[i];
      // A line through a taken point or off the board is not this
      // position's (a stale line): the rest of it is not drawn.
      if (taken.has(x + "," + y) || x >= s.settings.height || y >= s.settings.width) break;
      taken.add(x + "," + y);
      const g = el("g", { class: "pv " + colour, "data-x": x, "data-y": y, "data-order": i + 1 }, layer);
      el("circle", { cx: px(y), cy: py(x), r: CELL * 0.42, class: "pv-stone " + colour }, g);
      el("text", { x: px(y), y: py(x), class: "number on-" + colour }, g, String(i + 1));
      colour = colour === "black" ? "white" : "black";
    }
  }
  const h = s.hint;
  if (h && h.status === "done") {
    const [x, y] = h.move;
    const g = el("g", { id: "hint-mark", class: "hint-mark", "data-x": x, "data-y": y }, layer);
    el("title", {}, g, `hint for ${h.colour}: ${pointName(x, y, s.settings.height)}`);
    el("circle", { cx: px(y), cy: py(x), r: CELL * 0.4 }, g);
    el("text", { x: px(y), y: py(x), class: "hint-text" }, g, "?");
  }
}

// -- the rest of the page ------------------------------------------------------

function capital(text) { return text.charAt(0).toUpperCase() + text.slice(1); }

function statusText(s) {
  if (s.closed) return "This game is closed. Start a new one.";
  if (s.result) return "Game over: " + s.result.reason + ".";
  if (s.failure) return `The ${s.failure.colour} engine failed; continue with a fresh engine or undo.`;
  const side = capital(s.to_move);
  if (s.thinking) {
    const ms = s.think_ms + (Date.now() - thinkSince);
    return `${side} (engine) is thinking… ${(ms / 1000).toFixed(1)} s`;
  }
  if (s.player === "human") {
    let text = `${side} to move: your turn.`;
    if (s.forbidden.length) text += " Black's forbidden points are marked ×.";
    return text;
  }
  return `${side} (engine) to move.`;
}

function showStatus() {
  if (current) $("status").textContent = statusText(current);
}

function showLog(s) {
  const log = $("log");
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  let added = "";
  for (const [seq, text] of s.log) {
    if (seq > logSeq) {
      added += text + "\n";
      logSeq = seq;
    }
  }
  if (added) {
    log.textContent += added;
    if (log.textContent.length > 200000) log.textContent = log.textContent.slice(-150000);
    if (atEnd) log.scrollTop = log.scrollHeight;
  }
}

function showClocks(s) {
  const parts = [];
  if (s.clocks) {
    ["black", "white"].forEach((colour, i) => {
      if (s.clocks[i] !== null) parts.push(`${colour} engine: ${(s.clocks[i] / 1000).toFixed(1)} s left`);
    });
  }
  const engineTimes = s.times.filter((t) => t !== null);
  if (engineTimes.length) parts.push(`last engine move: ${engineTimes[engineTimes.length - 1]} ms`);
  $("clocks").textContent = parts.join(" · ");
}

function formatNodes(n) {
  if (n === null) return "";
  if (n >= 1e6) return (n / 1e6).toFixed(1) + "M";
  if (n >= 1e4) return Math.round(n / 1e3) + "k";
  return String(n);
}

function depthText(a) {
  if (a.depth === null) return "";
  return "depth " + a.depth + (a.seldepth !== null ? "-" + a.seldepth : "");
}

function pvText(pv, height) {
  return pv.map(([x, y]) => pointName(x, y, height)).join(" ");
}

// What the engine thinks now, or the hint, or the value of the last engine move.
function showAnalysis(s) {
  const height = s.settings.height;
  let head = "", a = null;
  const h = s.hint;
  if (s.thinking && s.analysis && $("show-thinking").checked) {
    a = s.analysis;
    head = `${capital(a.colour)} (engine) is thinking:`;
  } else if (h) {
    a = h.analysis;
    if (h.status === "thinking") head = `Hint for ${h.colour}: the engine is thinking…`;
    else if (h.status === "done") head = `Hint for ${h.colour}: ${pointName(h.move[0], h.move[1], height)} (${h.move[0]},${h.move[1]})`;
    else head = `No hint: ${h.text}`;
  } else if (s.thinking) {
    head = `${capital(s.to_move)} (engine) is thinking…`;
  } else {
    const last = s.values.length - 1;
    if (last >= 0 && s.values[last] !== null) {
      const [x, y] = s.moves[last];
      head = `${last % 2 === 0 ? "Black" : "White"} (engine) played ${pointName(x, y, height)} with value ${s.values[last]}.`;
    }
  }
  $("analysis-head").textContent = head;
  $("analysis-depth").textContent = a ? depthText(a) : "";
  $("analysis-value").textContent = a && a.value ? "value " + a.value.text : "";
  const figures = [];
  if (a && a.nodes !== null) figures.push(formatNodes(a.nodes) + " nodes");
  if (a && a.nps !== null) figures.push(formatNodes(a.nps) + " nps");
  if (a && a.time !== null) figures.push((a.time / 1000).toFixed(2) + " s");
  $("analysis-nodes").textContent = figures.join(" · ");
  $("analysis-pv").textContent = a && a.pv.length ? "line: " + pvText(a.pv, height) : "";
}

// One row per move: number, colour, point, think time and the engine's value
// (from the point of view of the side that moved). A click reviews the move.
function showMoves(s) {
  const key = JSON.stringify([s.id, s.moves, s.times, s.values]);
  const list = $("moves");
  if (key !== listKey) {
    listKey = key;
    const atEnd = list.scrollTop + list.clientHeight >= list.scrollHeight - 4;
    while (list.firstChild) list.removeChild(list.firstChild);
    s.moves.forEach(([x, y], i) => {
      const row = document.createElement("li");
      row.dataset.move = i + 1;
      const colour = i % 2 === 0 ? "black" : "white";
      const parts = [[colour, colour === "black" ? "●" : "○"],
        ["point", pointName(x, y, s.settings.height)], ["coord", `${x},${y}`],
        ["time", s.times[i] === null ? "" : s.times[i] + " ms"], ["value", s.values[i] || ""]];
      for (const [name, text] of parts) {
        const span = document.createElement("span");
        span.className = "mv-" + name;
        span.textContent = text;
        if (name === "value" && text) span.title = "the engine's value, from the mover's point of view";
        row.appendChild(span);
      }
      list.appendChild(row);
    });
    if (atEnd) list.scrollTop = list.scrollHeight;
  }
  const shown = reviewAt === null ? s.moves.length : reviewAt;
  for (const row of list.children) row.classList.toggle("current", Number(row.dataset.move) === shown);
}

// The evaluation graph: a point per engine move that came with a value, from
// black's point of view (black's advantage up), forced results at the edge.
function drawGraph(s) {
  const shown = reviewAt === null ? s.moves.length : reviewAt;
  const key = JSON.stringify([s.id, s.graph, s.moves.length, shown]);
  if (key === graphKey) return;
  graphKey = key;
  const svg = $("graph");
  while (svg.firstChild) svg.removeChild(svg.firstChild);
  const W = 600, H = 150, left = 44, right = 10, top = 10, bottom = 20;
  svg.setAttribute("viewBox", `0 0 ${W} ${H}`);
  const span = Math.max(s.moves.length, 20);
  let scale = 200;
  for (const [, value, forced] of s.graph) if (!forced) scale = Math.max(scale, Math.abs(value));
  scale = Math.min(Math.ceil(scale / 100) * 100, 2000);
  const gx = (move) => left + (move / span) * (W - left - right);
  const gy = (value) => top + (1 - (Math.max(-scale, Math.min(scale, value)) + scale) / (2 * scale)) * (H - top - bottom);
  el("rect", { x: left, y: top, width: W - left - right, height: H - top - bottom, class: "graph-area" }, svg);
  el("line", { x1: left, y1: gy(0), x2: W - right, y2: gy(0), class: "graph-zero" }, svg);
  el("text", { x: left - 4, y: gy(scale), class: "graph-label" }, svg, "+" + scale);
  el("text", { x: left - 4, y: gy(0), class: "graph-label" }, svg, "0");
  el("text", { x: left - 4, y: gy(-scale), class: "graph-label" }, svg, "−" + scale);
  el("text", { x: left + 4, y: top + 10, class: "graph-side" }, svg, "black better");
  el("text", { x: left + 4, y: H - bottom - 4, class: "graph-side" }, svg, "white better");
  for (let m = 10; m <= span; m += 10) {
    el("text", { x: gx(m), y: H - 6, class: "graph-tick" }, svg, String(m));
  }
  if (shown > 0) el("line", { x1: gx(shown), y1: top, x2: gx(shown), y2: H - bottom, class: "graph-cursor" }, svg);
  if (s.graph.length > 1) {
    el("polyline", { points: s.graph.map(([m, v]) => gx(m) + "," + gy(v)).join(" "), class: "graph-line" }, svg);
  }
  for (const [move, value, forced] of s.graph) {
    const dot = el("circle", { cx: gx(move), cy: gy(value), r: forced ? 4.5 : 3.5,
      class: "graph-point" + (forced ? " forced" : "") + (move % 2 ? " by-black" : " by-white"),
      "data-move": move, "data-value": value }, svg);
    el("title", {}, dot, `move ${move} (${move % 2 ? "black" : "white"}): ${s.values[move - 1]}`);
  }
}

// -- review -------------------------------------------------------------------

function reviewTo(n) {
  if (!current) return;
  const total = current.moves.length;
  n = Math.max(0, Math.min(total, n));
  reviewAt = n === total ? null : n;
  $("continue-confirm").hidden = true;
  showView(current);
}

function showReview(s) {
  const total = s.moves.length;
  const live = reviewAt === null;
  $("review-text").textContent = live ? `${total} move${total === 1 ? "" : "s"}` :
    `reviewing move ${reviewAt} of ${total}`;
  $("review-first").disabled = $("review-back").disabled = (live ? total : reviewAt) === 0;
  $("review-forward").disabled = $("review-last").disabled = live;
  $("continue-here").hidden = live || s.closed;
  document.body.classList.toggle("reviewing", !live);
}

// Everything that depends on which moves are shown.
function showView(s) {
  const view = boardView(s);
  const key = JSON.stringify([s.id, view.settings, view.moves, view.forbidden, view.result]);
  if (key !== boardKey) {
    boardKey = key;
    overlayKey = "";
    drawBoard(view);
  }
  const overlay = JSON.stringify([reviewAt, s.thinking && s.analysis, s.hint, $("show-thinking").checked]);
  if (overlay !== overlayKey) {
    overlayKey = overlay;
    drawOverlay(s);
  }
  showReview(s);
  showMoves(s);
  drawGraph(s);
}

function render(s) {
  // A poll answered before a newer state arrived is out of date.
  if (s.id !== gameId || (current && current.id === s.id && s.version < version)) return;
  if (!current || current.id !== s.id) reviewAt = null;
  if (reviewAt !== null && reviewAt >= s.moves.length) reviewAt = null;
  current = s;
  version = s.version;
  thinkSince = Date.now();
  // The board is redrawn only when what it shows changed, not for every log line.
  showView(s);
  showAnalysis(s);
  showStatus();
  showLog(s);
  showClocks(s);
  const result = $("result");
  if (s.result) {
    const who = s.result.winner ? capital(s.result.winner) + " wins" : "Draw";
    result.textContent = `${who}: ${s.result.reason}.`;
  }
  result.hidden = !s.result;
  const failure = $("failure");
  failure.hidden = !s.failure;
  if (s.failure) {
    const f = s.failure;
    $("failure-text").textContent = `${capital(f.colour)} engine failed (${f.kind}): ${f.text}`;
    let printed = f.printed.length ? "It printed:\n" + f.printed.join("\n") : "It printed nothing.";
    if (f.stderr.length) printed += "\nOn standard error:\n" + f.stderr.join("\n");
    $("failure-output").textContent = printed;
  }
  $("undo").disabled = s.closed || s.thinking || s.moves.length === 0;
  $("hint").disabled = s.closed || !!s.result || !!s.failure || s.player !== "human" ||
    (s.hint !== null && s.hint.status === "thinking");
  $("move-now").disabled = !s.can_stop;
}

async function act(path, body) {
  if (busy) return null;
  busy = true;
  try {
    const answer = await api("POST", path, body);
    if (!answer.ok) {
      notice(answer.refused || answer.error);
      return null;
    }
    notice("");
    if (path === "/api/new") {
      gameId = answer.state.id;
      logSeq = 0;
      $("log").textContent = "";
    }
    render(answer.state);
    return answer.state;
  } catch (e) {
    notice("The server did not answer: " + e.message);
    return null;
  } finally {
    busy = false;
  }
}

function numberOf(id) {
  return parseInt($(id).value, 10);
}

function newGame(record) {
  const body = {
    rule: $("rule").value,
    width: numberOf("width"),
    height: numberOf("height"),
    black: $("black").value,
    white: $("white").value,
    black_level: $("black-level").value,
    white_level: $("white-level").value,
    timeout_turn: numberOf("timeout-turn"),
    time_left: numberOf("time-left") || 0,
  };
  if (gameId) body.replace = gameId;
  if (record !== undefined) body.record = record;
  return act("/api/new", body).then((s) => {
    if (s) {
      // A loaded record may bring its own rule and size.
      $("rule").value = s.settings.rule;
      $("width").value = s.settings.width;
      $("height").value = s.settings.height;
    }
  });
}

async function exportRecord(kind) {
  if (!gameId) return;
  const path = `/api/export?game=${gameId}&format=${kind}`;
  try {
    $("record").value = await api("GET", path);
    const link = $("download");
    link.href = path;
    link.setAttribute("download", kind === "sgf" ? "zorvan-game.sgf" : "zorvan-game.txt");
    link.hidden = false;
  } catch (e) {
    notice("Export failed: " + e.message);
  }
}

async function pollLoop() {
  for (;;) {
    const id = gameId;
    if (!id || !current || current.closed) {
      await sleep(300);
      continue;
    }
    try {
      const s = await api("GET", `/api/state?game=${id}&since=${version}&wait=${POLL_WAIT_MS}`);
      if (id === gameId) render(s);
    } catch (e) {
      if (id === gameId) notice("Lost contact with the server: " + e.message);
      await sleep(1000);
    }
  }
}

function setUp() {
  $("settings").addEventListener("submit", (event) => {
    event.preventDefault();
    newGame();
  });
  $("board").addEventListener("click", (event) => {
    const hit = event.target.closest(".hit");
    if (!hit || !current) return;
    if (reviewAt !== null) {
      notice(`You are looking at move ${reviewAt}: » (End) goes back to the game, ` +
        "or continue from here.");
      return;
    }
    act("/api/move", { game: gameId, x: Number(hit.dataset.x), y: Number(hit.dataset.y) });
  });
  $("undo").addEventListener("click", () => act("/api/undo", { game: gameId }));
  $("hint").addEventListener("click", () => act("/api/hint", { game: gameId }));
  $("move-now").addEventListener("click", () => act("/api/stop", { game: gameId }));
  $("show-thinking").addEventListener("change", () => { if (current) render(current); });
  const shownNow = () => (reviewAt === null ? current.moves.length : reviewAt);
  $("review-first").addEventListener("click", () => reviewTo(0));
  $("review-back").addEventListener("click", () => reviewTo(shownNow() - 1));
  $("review-forward").addEventListener("click", () => reviewTo(shownNow() + 1));
  $("review-last").addEventListener("click", () => reviewTo(Infinity));
  $("moves").addEventListener("click", (event) => {
    const row = event.target.closest("li");
    if (row) reviewTo(Number(row.dataset.move));
  });
  $("graph").addEventListener("click", (event) => {
    const dot = event.target.closest(".graph-point");
    if (dot) reviewTo(Number(dot.dataset.move));
  });
  document.addEventListener("keydown", (event) => {
    // Keys typed into the form or the record are theirs.
    if (!current || event.altKey || event.ctrlKey || event.metaKey ||
        event.target.closest("input, select, textarea")) return;
    const to = { ArrowLeft: shownNow() - 1, ArrowRight: shownNow() + 1, Home: 0, End: Infinity }[event.key];
    if (to === undefined) return;
    event.preventDefault();
    reviewTo(to);
  });
  $("continue-here").addEventListener("click", () => {
    const dropped = current.moves.length - reviewAt;
    $("continue-question").textContent = `Continue the game from move ${reviewAt}? ` +
      `The ${dropped} later move${dropped === 1 ? " is" : "s are"} dropped, and the engines ` +
      "start again from this position.";
    $("continue-confirm").hidden = false;
  });
  $("continue-no").addEventListener("click", () => { $("continue-confirm").hidden = true; });
  $("continue-yes").addEventListener("click", async () => {
    $("continue-confirm").hidden = true;
    const at = reviewAt;
    if (at === null) return;
    if (await act("/api/continue", { game: gameId, moves: at })) reviewTo(Infinity);
  });
  $("fresh-engine").addEventListener("click", () => act("/api/fresh-engine", { game: gameId }));
  $("numbers").addEventListener("change", () => {
    boardKey = "";
    if (current) showView(current);
  });
  $("export-sgf").addEventListener("click", () => exportRecord("sgf"));
  $("export-moves").addEventListener("click", () => exportRecord("moves"));
  $("load").addEventListener("click", () => newGame($("record").value));
  setInterval(() => { if (current && current.thinking) showStatus(); }, 200);
  newGame();
  pollLoop();
}

setUp();
