// The tool page: the pack catalogue, downloads with progress, installation into the game
// folder and the login state, all through the program's window.external. Without it (an
// ordinary browser) the page is a read-only catalogue.
'use strict';

const KIND_NAMES = { 1: '准星', 2: '界面', 3: '资源' };
// Where each kind goes below the game folder, and the marker key cleared after installing.
const KIND_TARGETS = {
  1: { dirs: ['rez', 'UI', 'Mark'], section: 'jstbsetep', key: 'jstb' },
  2: { dirs: ['rez', 'UI'], section: 'yxbjsetep', key: 'yxbj' },
  3: { dirs: ['rez'], section: 'jsyxsetep', key: 'jsyx' },
};
const STATE_SECTION = 'downloads'; // in toolpage.ini, the page's own file beside config.ini
const JOB_HIGH = 0;

let api = null;
let appPath = '';
let sep = '\\';
const packs = [];           // catalogue entries with their card and download state
const byJob = new Map();    // job low part -> pack
let currentKind = 0;

function $(id) { return document.getElementById(id); }

function findApi() {
  try {
    const ext = window.external;
    if (ext && typeof ext.DownloadFile === 'function' && typeof ext.GetAppPath === 'function')
      return ext;
  } catch (e) { /* some browsers throw on access */ }
  return null;
}

function setStatus(text, isError) {
  const el = $('status');
  el.textContent = text;
  el.classList.toggle('error', !!isError);
}

function formatSize(bytes) {
  if (bytes < 1024) return bytes + ' B';
  if (bytes < 1024 * 1024) return (bytes / 1024).toFixed(1) + ' KB';
  return (bytes / 1024 / 1024).toFixed(1) + ' MB';
}

// A stable, positive 31-bit job id per file name, so reports still match after a reload.
function jobIdFor(file) {
  let h = 5381;
  for (let i = 0; i < file.length; i++) h = ((h * 33) ^ file.charCodeAt(i)) | 0;
  return (h & 0x7fffffff) || 1;
}

function joinPath(base, parts) {
  let path = String(base).replace(/[\\/]+$/, '');
  for (const p of parts) path += sep + p;
  return path;
}

// ---- settings through the page API ----

function configFile() { return appPath + 'config.ini'; }
function stateFile() { return appPath + 'toolpage.ini'; }
function readConfig(section, key) { return String(api.GetConfigString(section, key, configFile()) || ''); }
function readState(file) { return String(api.GetConfigString(STATE_SECTION, file, stateFile()) || ''); }
function writeState(file, value) { api.SetConfigString(STATE_SECTION, file, value, stateFile()); }

function testServerSelected() { return readConfig('system', 'run') === '1'; }

function gameFolder(ask) {
  const tyf = testServerSelected();
  const key = tyf ? 'FOLDER_TYF' : 'FOLDER';
  let folder = readConfig('CF Info', key);
  if (!folder && ask) {
    const chosen = tyf ? api.FindTYF() : api.FindCF();
    if (chosen) folder = readConfig('CF Info', key);
  }
  return folder;
}

function showAccount() {
  const el = $('account');
  if (!api) {
    el.textContent = '';
    return;
  }
  const loggedIn = readConfig('system', 'ISLOGIN') === '1';
  const uid = readConfig('system', 'UID');
  el.classList.toggle('out', !(loggedIn && uid));
  el.textContent = loggedIn && uid ? '欢迎你：' + uid : '未登陆，请在右上方登陆QX77通行证';
}

function showGameFolder() {
  const folder = gameFolder(false);
  const tyf = testServerSelected();
  $('gamedir').textContent = folder ? folder + (tyf ? '（体验服）' : '') : '未设置';
  $('gamedir').title = folder;
}

// ---- pack cards ----

function setPackState(pack, state, percent) {
  pack.state = state;
  const card = pack.card;
  const stateEl = card.querySelector('.state');
  const bar = card.querySelector('.bar');
  const fill = card.querySelector('.fill');
  const download = card.querySelector('.download');
  const pause = card.querySelector('.pause');
  const install = card.querySelector('.install');
  stateEl.className = 'state';
  if (typeof percent === 'number') pack.percent = percent;
  fill.style.width = (pack.percent || 0) + '%';
  bar.hidden = !(state === 'downloading' || state === 'paused');
  pause.hidden = state !== 'downloading';
  download.hidden = state === 'downloading';
  download.textContent = state === 'paused' ? '继续' : (state === 'done' || state === 'installed') ? '重新下载' : '下载';
  install.hidden = !(state === 'done' || state === 'installed');
  switch (state) {
    case 'downloading': stateEl.textContent = '下载中 ' + (pack.percent || 0) + '%'; break;
    case 'paused': stateEl.textContent = '已暂停 ' + (pack.percent || 0) + '%'; break;
    case 'done': stateEl.textContent = '已下载'; stateEl.classList.add('ok'); break;
    case 'installed': stateEl.textContent = '已安装'; stateEl.classList.add('ok'); break;
    case 'failed': stateEl.textContent = '下载失败，请重试'; stateEl.classList.add('error'); break;
    default: stateEl.textContent = '';
  }
}

function archivePath(pack) { return appPath + 'Downloads' + sep + pack.file; }

function startDownload(pack) {
  if (pack.state === 'done' || pack.state === 'installed') {
    // A fresh download, not a resume of the finished file.
    api.DeleteFile(archivePath(pack));
    pack.percent = 0;
  }
  writeState(pack.file, 'partial');
  // A report may arrive inside the call (an address that cannot be used fails at once).
  pack.state = 'starting';
  const started = api.DownloadFile(pack.address, pack.file, JOB_HIGH, pack.job);
  if (pack.state !== 'starting') return;
  setPackState(pack, 'downloading');
  if (started === 1 || started === true) setStatus('开始下载：' + pack.name);
  else setStatus('“' + pack.name + '”已在下载中，或暂时无法开始下载。'); // 0: running (e.g. since before a reload) or not startable
}

function pauseDownload(pack) {
  api.PauseDownload(JOB_HIGH, pack.job);
  setStatus('正在暂停：' + pack.name);
}

function installPack(pack) {
  const target = KIND_TARGETS[pack.kind];
  if (!target) return;
  const folder = gameFolder(true);
  if (!folder) {
    setStatus('没有设置游戏目录，无法安装。', true);
    return;
  }
  const dest = joinPath(folder, target.dirs) + sep;
  setStatus('正在安装：' + pack.name + '…');
  const result = api.UnzipFile(archivePath(pack), dest);
  if (result === 1 || result === true) {
    api.SetConfigString(target.section, target.key, '', configFile());
    writeState(pack.file, 'installed');
    setPackState(pack, 'installed');
    setStatus('安装成功：' + pack.name + ' 已安装到 ' + dest);
  } else {
    setStatus('安装失败：' + pack.name + '，请检查游戏目录或重新下载。', true);
  }
}

function buildCard(pack) {
  const card = document.importNode($('packcard').content, true).firstElementChild;
  card.querySelector('.name').textContent = pack.name;
  const kind = card.querySelector('.kind');
  kind.textContent = KIND_NAMES[pack.kind] || '其他';
  kind.classList.add('k' + pack.kind);
  card.querySelector('.desc').textContent = pack.description || '';
  card.querySelector('.desc').title = pack.description || '';
  card.querySelector('.size').textContent = formatSize(pack.size);
  const img = card.querySelector('.preview');
  if (pack.preview) img.src = pack.preview; else img.hidden = true;
  const actions = card.querySelector('.actions');
  if (!api) {
    actions.remove();
  } else {
    card.querySelector('.download').addEventListener('click', () => startDownload(pack));
    card.querySelector('.pause').addEventListener('click', () => pauseDownload(pack));
    card.querySelector('.install').addEventListener('click', () => installPack(pack));
  }
  card.dataset.kind = pack.kind;
  pack.card = card;
  return card;
}

function restoreState(pack) {
  const saved = readState(pack.file);
  const exists = String(api.GetFilePath(archivePath(pack)) || '') !== '';
  if (!exists) setPackState(pack, 'idle');
  else if (saved === 'done') setPackState(pack, 'done');
  else if (saved === 'installed') setPackState(pack, 'installed');
  else setPackState(pack, 'paused', 0);
}

function applyFilter() {
  for (const pack of packs) pack.card.hidden = currentKind !== 0 && pack.kind !== currentKind;
}

async function loadCatalogue() {
  let list;
  try {
    const response = await fetch('/api/packs', { cache: 'no-store' });
    if (!response.ok) throw new Error('HTTP ' + response.status);
    list = (await response.json()).packs || [];
  } catch (e) {
    setStatus('资源目录读取失败，请稍后刷新。', true);
    return;
  }
  const container = $('packs');
  container.textContent = '';
  for (const entry of list) {
    const pack = Object.assign({ state: 'idle', percent: 0, job: jobIdFor(entry.file) }, entry);
    packs.push(pack);
    byJob.set(pack.job, pack);
    container.appendChild(buildCard(pack));
    if (api) restoreState(pack);
  }
  applyFilter();
  setStatus(list.length ? '共 ' + list.length + ' 个资源' + (api ? '' : '（只读浏览）') : '暂时没有资源。');
}

// Called by the program from its download workers (on the page's thread): status 1 progress,
// 2 complete, -1 failed, -100 paused.
function OnDownloadProgress(status, idHigh, idLow, percent) {
  const pack = byJob.get(Number(idLow));
  if (!pack || Number(idHigh) !== JOB_HIGH) return;
  switch (Number(status)) {
    case 1:
      setPackState(pack, 'downloading', Number(percent));
      break;
    case 2:
      writeState(pack.file, 'done');
      setPackState(pack, 'done', 100);
      setStatus('下载完成：' + pack.name + '，点击“安装”放入游戏目录。');
      break;
    case -1:
      setPackState(pack, 'failed');
      setStatus('下载失败：' + pack.name, true);
      break;
    case -100:
      setPackState(pack, 'paused');
      setStatus('已暂停：' + pack.name);
      break;
  }
}
window.OnDownloadProgress = OnDownloadProgress;

function wireControls() {
  for (const tab of $('tabs').querySelectorAll('button')) {
    tab.addEventListener('click', () => {
      currentKind = Number(tab.dataset.kind);
      for (const t of $('tabs').querySelectorAll('button')) t.classList.toggle('active', t === tab);
      applyFilter();
    });
  }
  if (!api) return;
  const drag = $('dragbar');
  drag.addEventListener('mousedown', (e) => { if (e.button === 0 && e.detail === 1) api.MoveWindow(); });
  drag.addEventListener('dblclick', () => api.MaxOrNormalWindow());
  $('findcf').addEventListener('click', () => { if (api.FindCF()) setStatus('正式服目录已设置。'); showGameFolder(); });
  $('findtyf').addEventListener('click', () => { if (api.FindTYF()) setStatus('体验服目录已设置。'); showGameFolder(); });
  $('rungame').addEventListener('click', () => {
    const folder = gameFolder(true);
    showGameFolder();
    if (!folder) return;
    if (api.RunExe(joinPath(folder, ['QQLogin.exe']))) setStatus('游戏启动中…');
  });
}

function start() {
  api = findApi();
  if (api) {
    appPath = String(api.GetAppPath() || '');
    const last = appPath.slice(-1);
    sep = last === '/' || last === '\\' ? last : '\\';
    api.SetCallBack(document);
    $('gamebar').hidden = false;
    showGameFolder();
  } else {
    $('browsernote').hidden = false;
  }
  showAccount();
  wireControls();
  loadCatalogue();
}

// The program may attach window.external a moment after the document starts; wait briefly.
(function waitForApi(triesLeft) {
  if (findApi() || triesLeft <= 0) start();
  else setTimeout(() => waitForApi(triesLeft - 1), 50);
})(document.readyState === 'complete' ? 4 : 10);
