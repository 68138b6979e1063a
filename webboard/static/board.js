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
  // Click targets last, above everything else.
  for (let x = 0; x < height; x++) {
    for (let y = 0; y < width; y++) {
      el("rect", { x: px(y) - CELL / 2, y: py(x) - CELL / 2, width: CELL, height: CELL,
        class: "hit", "data-x": x, "data-y": y }, svg);
    }
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

function render(s) {
  // A poll answered before a newer state arrived is out of date.
  if (s.id !== gameId || (current && current.id === s.id && s.version < version)) return;
  current = s;
  version = s.version;
  thinkSince = Date.now();
  // The board is redrawn only when what it shows changed, not for every log line.
  const key = JSON.stringify([s.id, s.settings, s.moves, s.forbidden, s.result]);
  if (key !== boardKey) {
    boardKey = key;
    drawBoard(s);
  }
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
    act("/api/move", { game: gameId, x: Number(hit.dataset.x), y: Number(hit.dataset.y) });
  });
  $("undo").addEventListener("click", () => act("/api/undo", { game: gameId }));
  $("fresh-engine").addEventListener("click", () => act("/api/fresh-engine", { game: gameId }));
  $("numbers").addEventListener("change", () => { if (current) drawBoard(current); });
  $("export-sgf").addEventListener("click", () => exportRecord("sgf"));
  $("export-moves").addEventListener("click", () => exportRecord("moves"));
  $("load").addEventListener("click", () => newGame($("record").value));
  setInterval(() => { if (current && current.thinking) showStatus(); }, 200);
  newGame();
  pollLoop();
}

setUp();
