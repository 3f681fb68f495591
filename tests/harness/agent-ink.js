#!/usr/bin/env node
// agent-ink: a stand-in for an AI coding agent's terminal UI built the way
// Ink (React for the terminal, in node) draws, for the host's tests of when
// an asked turn ends. As such programs do, it
//
// - reads its terminal raw and waits in node's event loop, which always has
//   a timer pending (epoll_pwait with a timeout, idle or at work);
// - hides the cursor and draws a dynamic region on the normal screen: an
//   input box ("> " and an inverse block for the cursor) and a footer, with
//   a spinner ("✻ Thinking… (3s · esc to interrupt)") above the box while it
//   works, redrawn every frame (100 ms) by erasing its lines upwards
//   (ESC [2K ESC [1A ... ESC [G) and writing them again; the real cursor is
//   left on the line below the footer;
// - writes finished lines of the transcript above the region once (Ink's
//   Static): the prompt quoted as "> PROMPT", the answer as "⏺ FIRST" and
//   "  NEXT" lines, so a long answer scrolls off the top;
// - thinks for a while (1 to 3 s) and streams its answer token by token
//   with pauses of up to 700 ms, the spinner turning all the while;
// - asks permission for a prompt with the word "permission", in a box with
//   a numbered menu ("❯ 1. Yes"); 1 or the Enter allows, 2 or Escape denies.
//
// Answers: "Answer #N: PROMPT" for the N-th prompt, "lines K" answers K
// lines "line I of K", after a permission "Allowed: PROMPT" or "Denied.".
// Timing from the environment, in seconds: AGENT_THINK (a number or a range
// "1-3"), AGENT_FRAME (0.1), AGENT_TOKEN (0.03), AGENT_PAUSE (0.7: after the
// second token and every fortieth after it); AGENT_LOG names a file that
// gets the time of its last drawing (seconds since the epoch).
'use strict';
const fs = require('fs');

const seconds = (name, fallback) => {
  const [low, high] = (process.env[name] || fallback).split('-').map(Number);
  return () => (high === undefined ? low : low + Math.random() * (high - low)) * 1000;
};
const think = seconds('AGENT_THINK', '1-3');
const FRAME = seconds('AGENT_FRAME', '0.1')();
const TOKEN = seconds('AGENT_TOKEN', '0.03')();
const PAUSE = seconds('AGENT_PAUSE', '0.7')();
const LOG = process.env.AGENT_LOG;
const GLYPHS = ['·', '✢', '✳', '✶', '✻', '✽', '✻', '✶', '✳', '✢'];

const out = process.stdout;
const state = {line: '', turns: 0, work: null, partial: null, menu: null, queue: [], started: 0};
let drawnLines = 0;

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));
const cols = () => Math.max(out.columns || 80, 30);

function box(rows) {
  const inner = cols() - 4;
  return ['╭' + '─'.repeat(cols() - 2) + '╮', ...rows.map(r => '│ ' + r.padEnd(inner).slice(0, inner) + ' │'),
          '╰' + '─'.repeat(cols() - 2) + '╯'];
}

function dynamic() {
  const rows = [];
  if (state.partial !== null) rows.push(state.partial, '');
  if (state.menu) return rows.concat(box(state.menu.rows()), '');
  if (state.work) {
    const took = Date.now() - state.started;
    rows.push(`${GLYPHS[Math.floor(took / FRAME) % GLYPHS.length]} ${state.work}… (${Math.floor(took / 1000)}s · esc to interrupt)`, '');
  }
  const inner = cols() - 4;
  const text = ('> ' + state.line).slice(-(inner - 1));
  rows.push('╭' + '─'.repeat(cols() - 2) + '╮', '│ ' + text + '\x1b[7m \x1b[27m' + ' '.repeat(inner - text.length - 1) + ' │',
            '╰' + '─'.repeat(cols() - 2) + '╯', '  ? for shortcuts');
  return rows;
}

function eraseLines(count) {
  let clear = '';
  for (let i = 0; i < count; i++) clear += '\x1b[2K' + (i < count - 1 ? '\x1b[1A' : '');
  return count ? clear + '\x1b[G' : clear;
}

// Writes `fixed` lines above the region once, then the region again.
function render(fixed = []) {
  const region = dynamic().join('\n') + '\n';
  const lines = fixed.map(l => l + '\n').join('');
  out.write(eraseLines(drawnLines) + lines + region);
  drawnLines = region.split('\n').length;
  if (LOG) fs.writeFileSync(LOG, `${(Date.now() / 1000).toFixed(6)}\n`);
}

async function stream(lines) {
  let count = 0;
  for (let i = 0; i < lines.length; i++) {
    const lead = i === 0 ? '⏺ ' : '  ';
    state.partial = lead;
    for (const token of lines[i].split(/(?= )/)) {
      state.partial += token;
      render();
      count++;
      await sleep(count % 40 === 2 ? PAUSE : TOKEN);
    }
    state.partial = null;
    render([lead + lines[i]]);
  }
}

function permission() {
  return new Promise(resolve => {
    let picked = 0;
    const options = ['Yes', 'No, and tell me what to do differently (esc)'];
    state.menu = {
      rows: () => ['Bash command', '', '  make test', '', 'Do you want to proceed?',
                   ...options.map((o, i) => `${i === picked ? '❯' : ' '} ${i + 1}. ${o}`)],
      key: key => {
        const choose = yes => { state.menu = null; resolve(yes); };
        if (key === '1') choose(true);
        else if (key === '2' || key === '\x1b') choose(false);
        else if (key === '\r') choose(picked === 0);
        else if (key === '\x1b[A' || key === '\x1b[B') { picked = 1 - picked; render(); }
      },
    };
    render();
  });
}

async function work(prompt) {
  state.turns++;
  state.work = 'Thinking';
  state.started = Date.now();
  render(['> ' + prompt, '']);
  await sleep(think());
  let answer = [`Answer #${state.turns}: ${prompt}`];
  if (prompt.includes('permission')) {
    const work = state.work;
    state.work = null;
    const allowed = await permission();
    state.work = work;
    answer = allowed ? [`Allowed: ${prompt}`] : ['Denied.'];
    if (allowed) await sleep(think());
  } else if (prompt.startsWith('lines ')) {
    const count = Number(prompt.split(' ')[1]);
    answer = Array.from({length: count}, (_, i) => `line ${i + 1} of ${count}`);
  }
  state.work = 'Responding';
  await stream(answer);
  state.work = null;
  render(['']);
}

async function serve() {
  while (state.queue.length) await work(state.queue.shift());
  serving = false;
}
let serving = false;

function onKey(key) {
  if (state.menu) return state.menu.key(key);
  if (key === '\r') {
    if (state.line.trim()) state.queue.push(state.line);
    state.line = '';
    if (!serving && state.queue.length) {
      serving = true;
      serve();
    }
  } else if (key === '\x7f') {
    state.line = state.line.slice(0, -1);
  } else if ((key === '\x03' || key === '\x04') && !state.work) {
    out.write('\x1b[?25h');
    process.exit(0);
  } else if (key >= ' ') {
    state.line += key;
  }
  render();
}

process.stdin.setRawMode(true);
process.stdin.setEncoding('utf8');
process.stdin.on('data', data => {
  // Escape sequences stay whole; everything else is a key of its own.
  for (const key of data.match(/\x1b\[[0-9;]*[A-Za-z~]|[\s\S]/gu) || []) onKey(key);
});
process.stdin.on('end', () => process.exit(0));
out.on('resize', () => render());
setInterval(() => { if (state.work) render(); }, FRAME);
out.write('\x1b[?25l');
render(['agent-ink: a stand-in for an AI coding agent. Type a prompt.', '']);
