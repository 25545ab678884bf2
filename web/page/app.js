'use strict';
// The page of zent-recorder: cameras, their recordings by day, and playback without transcoding.

const $ = (id) => document.getElementById(id);
let session = null;
let cameras = [];
let selected = null;
let day = '';
let page = 0;

async function api(path, options = {}) {
  const headers = Object.assign({}, options.headers || {});
  if (options.method && options.method !== 'GET') headers['X-CSRF-Token'] = session.csrf;
  const response = await fetch(path, Object.assign({}, options, {headers}));
  if (response.status === 401) {
    location.href = '/login';
    throw new Error('logged out');
  }
  if (!response.ok) throw new Error((await response.json().catch(() => ({}))).error || response.statusText);
  return response.json();
}

function element(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props);
  for (const child of children) node.append(child);
  return node;
}

function stateText(camera) {
  let text = camera.state;
  if (camera.loggedIn && !camera.video) text += ', no video';
  if (camera.lastEvent) text += ' · last event ' + new Date(camera.lastEvent).toLocaleString();
  return text;
}

function showCameras() {
  const box = $('cameras');
  box.replaceChildren(...cameras.map((camera) => {
    const button = element('button', {type: 'button', className: 'camera' + (camera.id === selected ? ' selected' : '')},
      element('strong', {textContent: camera.name}),
      element('span', {className: 'state ' + camera.state, textContent: stateText(camera)}));
    button.dataset.camera = camera.id;
    button.addEventListener('click', () => selectCamera(camera.id));
    return button;
  }));
}

function size(bytes) {
  if (bytes >= 1 << 30) return (bytes / (1 << 30)).toFixed(1) + ' GB';
  if (bytes >= 1 << 20) return (bytes / (1 << 20)).toFixed(1) + ' MB';
  return Math.round(bytes / 1024) + ' kB';
}

function length(seconds) {
  const s = Math.round(seconds);
  return Math.floor(s / 60) + ':' + String(s % 60).padStart(2, '0');
}

async function selectCamera(id) {
  selected = id;
  day = '';
  showCameras();
  $('recordNowSaid').textContent = '';
  await Promise.all([loadRecordings(true), loadWeek()]);
}

// The week's events per hour, as the desktop's chart shows them; a click goes to that hour.
async function loadWeek() {
  if (!selected) return;
  const week = await api('/api/week?camera=' + encodeURIComponent(selected));
  const cells = [];
  for (const {day: d, hours} of week.days) {
    cells.push(element('span', {className: 'label', textContent: d.slice(5)}));
    hours.forEach((count, hour) => {
      const cell = element('button', {type: 'button', className: 'cell' + (count > 3 ? ' many' : count ? ' some' : ''),
        title: d + ' ' + String(hour).padStart(2, '0') + ':00 — ' + count + ' events'});
      cell.addEventListener('click', async () => {
        // The hour's first half hour, as a clip's span to adjust.
        setClip(new Date(d + 'T' + String(hour).padStart(2, '0') + ':00:00'), 30 * 60);
        day = d;
        await loadRecordings(true);
        const prefix = d.replace(/-/g, '') + '_' + String(hour).padStart(2, '0');
        const items = [...document.querySelectorAll('#list li')];
        items.forEach((li) => li.classList.toggle('hour', (li.dataset.recording || '').split('~')[1].startsWith(prefix)));
        const first = items.find((li) => li.classList.contains('hour'));
        if (first) first.scrollIntoView({block: 'center'});
      });
      cells.push(cell);
    });
  }
  $('week').replaceChildren(...cells);
}

async function loadRecordings(fresh) {
  if (!selected) return;
  if (fresh) page = 0;
  const query = new URLSearchParams({camera: selected, page: String(page)});
  if (day) query.set('day', day);
  const answer = await api('/api/recordings?' + query);
  const camera = cameras.find((c) => c.id === selected);
  $('recordingsTitle').textContent = (camera ? camera.name : selected) + ' — ' + answer.total + ' recordings' +
    (day ? ' on ' + day : '');
  $('days').replaceChildren(element('button', {type: 'button', textContent: 'All days', className: day ? '' : 'selected',
    onclick: () => { day = ''; loadRecordings(true); }}),
    ...(answer.days || []).map((d) => element('button', {type: 'button', textContent: d,
      className: d === day ? 'selected' : '', onclick: () => { day = d; loadRecordings(true); }})));
  const items = answer.recordings.map(recordingItem);
  if (fresh) $('list').replaceChildren(...items);
  else $('list').append(...items);
  $('more').hidden = answer.page + 1 >= answer.pages;
}

function recordingItem(recording) {
  const start = recording.start ? new Date(recording.start) : null;
  let showKept = () => {};
  const actions = element('div', {className: 'actions'},
    element('button', {type: 'button', textContent: 'Play', onclick: () => play(recording)}),
    element('a', {href: recording.download, textContent: 'Download'}));
  if (session.role === 'admin') {
    // Kept: no rule of the disk deletes it; a person still may.
    const keep = element('button', {type: 'button', className: 'keep', textContent: 'Keep',
      onclick: async () => {
        const kept = !recording.kept;
        await api('/api/recordings/' + recording.id + '/keep', {method: kept ? 'POST' : 'DELETE'});
        recording.kept = kept;
        showKept();
      }});
    showKept = () => {
      keep.setAttribute('aria-pressed', String(!!recording.kept));
      keep.textContent = recording.kept ? 'Kept' : 'Keep';
      item.classList.toggle('kept', !!recording.kept);
    };
    actions.append(keep, element('button', {type: 'button', textContent: 'Share', onclick: () =>
      share('/api/recordings/' + recording.id + '/share', 'the recording of ' + (start ? start.toLocaleString() : recording.id))}));
    actions.append(element('button', {type: 'button', className: 'danger', textContent: 'Delete', onclick: async () => {
      if (!confirm('Delete the recording of ' + (start ? start.toLocaleString() : recording.id) + '?')) return;
      await api('/api/recordings/' + recording.id, {method: 'DELETE'});
      item.remove();
    }}));
  }
  const item = element('li', {},
    element('img', {src: recording.thumbnail, alt: '', loading: 'lazy'}),
    element('div', {className: 'meta', textContent: (start ? start.toLocaleString() : '?') + ' · ' +
      length(recording.seconds) + ' · ' + size(recording.bytes) + ' · ' + recording.codec}),
    actions);
  item.dataset.recording = recording.id;
  showKept();
  return item;
}

// A clip: a span of the camera's recordings, at most 30 minutes, as one MP4.
function localInput(date) {
  const pad = (n) => String(n).padStart(2, '0');
  return date.getFullYear() + '-' + pad(date.getMonth() + 1) + '-' + pad(date.getDate()) + 'T' + pad(date.getHours()) +
    ':' + pad(date.getMinutes()) + ':' + pad(date.getSeconds());
}

function setClip(from, seconds) {
  $('clipFrom').value = localInput(from);
  $('clipTo').value = localInput(new Date(from.getTime() + seconds * 1000));
}

function clipQuery() {
  const from = new Date($('clipFrom').value), to = new Date($('clipTo').value);
  if (isNaN(from) || isNaN(to) || to <= from) throw new Error('the clip ends after it begins');
  if (to - from > 30 * 60 * 1000) throw new Error('a clip lasts at most 30 minutes');
  return 'from=' + encodeURIComponent(from.toISOString()) + '&to=' + encodeURIComponent(to.toISOString());
}

async function downloadClip(event) {
  event.preventDefault();
  const said = $('clipSaid');
  said.textContent = '';
  try {
    const url = '/api/cameras/' + selected + '/clip?' + clipQuery();
    // Asked first, so that a span without recordings says so here instead of leaving the page.
    const answer = await fetch(url, {method: 'HEAD'});
    if (!answer.ok) throw new Error(answer.status === 404 ? 'no recording in that time' : answer.statusText);
    location.href = url;
  } catch (error) {
    said.textContent = error.message;
  }
}

async function share(path, what) {
  const hours = Number(prompt('Share ' + what + ' for how many hours (1 to 168)?', '24'));
  if (!hours) return;
  try {
    const made = await api(path, {method: 'POST', headers: {'Content-Type': 'application/json'},
      body: JSON.stringify({hours: Math.round(hours)})});
    const link = location.origin + made.url;
    $('newLink').replaceChildren('Link to ' + what + ' until ' + new Date(made.expires).toLocaleString() +
      ' (shown once): ', element('input', {readOnly: true, value: link, size: 60, onfocus: (e) => e.target.select()}),
      element('button', {type: 'button', textContent: 'Copy', onclick: () => navigator.clipboard.writeText(link)}));
    await loadShares();
  } catch (error) {
    $('newLink').textContent = 'Not shared: ' + error.message;
  }
}

async function loadShares() {
  if (session.role !== 'admin') return;
  const {shares} = await api('/api/shares');
  $('shares').hidden = false;
  $('shareList').replaceChildren(...shares.map((s) => {
    const what = s.recording ? 'recording ' + s.recording.split('~')[1] :
      'clip of ' + s.camera + ' ' + new Date(s.from).toLocaleString() + ' – ' + new Date(s.to).toLocaleTimeString();
    const item = element('li', {textContent: what + ' · by ' + s.by + ' · until ' + new Date(s.expires).toLocaleString() + ' '},
      element('button', {type: 'button', className: 'danger', textContent: 'Revoke', onclick: async () => {
        await api('/api/shares/' + s.id, {method: 'DELETE'});
        item.remove();
      }}));
    item.dataset.share = s.id;
    return item;
  }));
}

// Motion JPEG: each frame is a JPEG as the file stores it, shown at the file's rate.
const player = {frames: null, frame: 0, timer: null, recording: null};

function stopPlaying() {
  clearTimeout(player.timer);
  player.timer = null;
  $('play').textContent = 'Play';
}

function showFrame(n) {
  if (!player.frames) return;
  player.frame = Math.max(0, Math.min(player.frames.count - 1, n));
  $('frame').src = player.frames.frame + player.frame + '.jpg';
  $('scrub').value = String(player.frame);
  $('position').textContent = 'frame ' + (player.frame + 1) + ' of ' + player.frames.count + ' · ' +
    length(player.frame / player.frames.fps);
}

function tick() {
  if (player.frame + 1 >= player.frames.count) return stopPlaying();
  showFrame(player.frame + 1);
  player.timer = setTimeout(tick, 1000 / (player.frames.fps * Number($('speed').value)));
}

async function play(recording) {
  stopPlaying();
  player.recording = recording;
  $('player').hidden = false;
  $('playing').textContent = new Date(recording.start).toLocaleString() + ' · ' + length(recording.seconds);
  const video = $('video');
  if (recording.video) {
    $('frame').hidden = true;
    $('mjpegControls').hidden = true;
    video.hidden = false;
    video.src = recording.video;
    video.play().catch(() => {});
    return;
  }
  video.pause();
  video.removeAttribute('src');
  video.hidden = true;
  $('frame').hidden = false;
  $('mjpegControls').hidden = false;
  player.frames = await api(recording.frames);
  $('scrub').max = String(player.frames.count - 1);
  const mark = $('eventMark');
  const eventFrame = Math.round((recording.eventSeconds || 0) * player.frames.fps);
  mark.hidden = !recording.eventSeconds;
  mark.style.left = (100 * eventFrame / Math.max(1, player.frames.count - 1)) + '%';
  showFrame(0);
  $('play').click();
}

function wirePlayer() {
  $('play').addEventListener('click', () => {
    if (player.timer) return stopPlaying();
    $('play').textContent = 'Pause';
    player.timer = setTimeout(tick, 0);
  });
  $('back').addEventListener('click', () => { stopPlaying(); showFrame(player.frame - 1); });
  $('forward').addEventListener('click', () => { stopPlaying(); showFrame(player.frame + 1); });
  $('scrub').addEventListener('input', () => { stopPlaying(); showFrame(Number($('scrub').value)); });
  $('close').addEventListener('click', () => {
    stopPlaying();
    $('video').pause();
    $('player').hidden = true;
  });
}

// Live: every camera's stream from the recorder's own connection, as it arrives. A tile opens its
// stream while the camera's video is up and shows "no video" while it is not.
const tiles = new Map();
let liveShown = true;

function openStream(tile, camera) {
  tile.novideo.hidden = camera.video !== false;
  if (document.readyState !== 'complete') return;
  if (!liveShown || camera.video === false || !camera.codec) return closeStream(tile);
  if (tile.stream && tile.codec === camera.codec) return;
  closeStream(tile);
  tile.codec = camera.codec;
  const url = camera.live + '?t=' + Date.now();
  if (camera.codec === 'mjpeg') {
    tile.stream = element('img', {alt: camera.name + ' live', src: url});
  } else {
    // Fragmented MP4 from the last key frame: the first picture is there at once.
    tile.stream = element('video', {muted: true, autoplay: true, playsInline: true, src: url});
    const retry = () => { if (tile.stream) { closeStream(tile); setTimeout(() => openStream(tile, camera), 1000); } };
    tile.stream.addEventListener('error', retry);
    tile.stream.addEventListener('ended', retry);
    // It begins at the last key frame, up to a key-frame interval ago: play faster until it is at
    // now (a live stream cannot seek).
    tile.stream.addEventListener('timeupdate', () => {
      const v = tile.stream;
      if (!v || !v.buffered.length) return;
      const behind = v.buffered.end(v.buffered.length - 1) - v.currentTime;
      v.playbackRate = behind > 0.5 ? 2 : 1;
    });
  }
  tile.box.prepend(tile.stream);
}

function closeStream(tile) {
  if (!tile.stream) return;
  if (tile.stream.tagName === 'VIDEO') { tile.stream.pause(); tile.stream.removeAttribute('src'); tile.stream.load(); }
  else tile.stream.src = '';
  tile.stream.remove();
  tile.stream = null;
}

let askAgain = null;

function showLive() {
  const grid = $('liveGrid');
  // The stream's kind is known a moment after its video arrives: ask again then.
  if (!askAgain && cameras.some((c) => c.video && !c.codec)) {
    askAgain = setTimeout(() => { askAgain = null; refreshCameras(); }, 500);
  }
  for (const camera of cameras) {
    let tile = tiles.get(camera.id);
    if (!tile) {
      tile = {box: element('div', {className: 'tile'}), stream: null, codec: ''};
      tile.novideo = element('div', {className: 'novideo', textContent: 'no video', hidden: true});
      tile.box.dataset.camera = camera.id;
      tile.box.append(element('span', {className: 'name', textContent: camera.name}), tile.novideo);
      tile.box.addEventListener('click', () => {
        const big = !tile.box.classList.contains('big');
        for (const other of tiles.values()) other.box.classList.remove('big');
        tile.box.classList.toggle('big', big);
        grid.classList.toggle('one', big);
      });
      tiles.set(camera.id, tile);
      grid.append(tile.box);
    }
    openStream(tile, camera);
  }
}

async function refreshCameras() {
  cameras = await api('/api/cameras');
  if (!selected && cameras.length) selected = cameras[0].id;
  $('recordNow').hidden = session.role !== 'admin' || !selected;
  showCameras();
  showLive();
}

function listen() {
  // Pushed by the server as recordings start and finish: no polling.
  const news = new EventSource('/api/events?after=' + encodeURIComponent(session.news));
  news.onmessage = async (event) => {
    const update = JSON.parse(event.data);
    const camera = cameras.find((c) => c.id === update.camera);
    if (camera) {
      Object.assign(camera, update);
      camera.state = !camera.loggedIn ? 'offline' : camera.recording ? 'recording' : camera.armed ? 'armed' : 'logged in';
      showCameras();
      showLive();
    }
    if (update.type === 'recording' && update.camera === selected && page === 0) {
      await Promise.all([loadRecordings(true), loadWeek()]);
    }
  };
}

async function start() {
  session = await api('/api/session');
  $('who').textContent = session.user + (session.role === 'admin' ? ' (admin)' : '');
  $('logout').addEventListener('click', async () => {
    await api('/api/logout', {method: 'POST'});
    location.href = '/login';
  });
  $('more').addEventListener('click', () => { page += 1; loadRecordings(false); });
  // An event from here, as a camera's own: recorded when the camera is ready for one.
  $('recordNow').addEventListener('click', async () => {
    const said = $('recordNowSaid');
    try {
      await api('/api/cameras/' + selected + '/trigger', {method: 'POST', headers: {'Content-Type': 'application/json'},
        body: JSON.stringify({reason: 'Record now'})});
      said.textContent = 'Recording asked for';
    } catch (error) {
      said.textContent = error.message;
    }
  });
  $('liveToggle').addEventListener('click', () => {
    liveShown = !liveShown;
    $('liveToggle').textContent = liveShown ? 'Hide' : 'Show';
    $('liveGrid').hidden = !liveShown;
    showLive();
  });
  wirePlayer();
  $('clip').addEventListener('submit', downloadClip);
  $('clipShare').hidden = session.role !== 'admin';
  $('clipShare').addEventListener('click', () => {
    try {
      share('/api/cameras/' + selected + '/clip/share?' + clipQuery(), 'a clip of ' + selected);
    } catch (error) {
      $('clipSaid').textContent = error.message;
    }
  });
  setClip(new Date(Date.now() - 10 * 60 * 1000), 10 * 60);
  await refreshCameras();
  await Promise.all([loadRecordings(true), loadWeek(), loadShares()]);
  listen();
  // Streams open once the page has loaded: an endless one would otherwise hold its load event.
  if (document.readyState === 'complete') showLive();
  else window.addEventListener('load', showLive, {once: true});
}

start();
