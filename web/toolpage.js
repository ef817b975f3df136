// The tool page: the pack catalogue, downloads with progress, installation into the game
// folder and the login state, all through the program's window.external. Without it (an
// ordinary browser) the page is a read-only catalogue.
//
// What a card shows comes from the disk, not from memory: at load the page looks for each
// pack's archive in the program's Downloads folder and, where one is there, resumes its
// download, because the first report of a resumed download tells how much of the file is
// really there (a complete file is reported complete at once, without a byte sent). A pack
// the user had paused is paused again as soon as that report has come.
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
const WATCH_MS = 5000;      // a download that reported nothing for this long is looked at again
const PAUSE_WAIT_MS = 5000; // a pause that brings no report: the job was not running

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
  let id = (h & 0x7fffffff) || 1;
  while (byJob.has(id)) id = (id % 0x7fffffff) + 1; // two names, one hash: the later moves on
  return id;
}

function joinPath(base, parts) {
  let path = String(base).replace(/[\\/]+$/, '');
  for (const p of parts) path += sep + p;
  return path;
}

function percentOf(value) {
  const n = Number(value);
  return Number.isFinite(n) && String(value) !== '' ? Math.max(0, Math.min(100, Math.floor(n))) : null;
}

// ---- settings and files through the page API ----

function configFile() { return appPath + 'config.ini'; }
function stateFile() { return appPath + 'toolpage.ini'; }
function readConfig(section, key) { return String(api.GetConfigString(section, key, configFile()) || ''); }
function fileExists(path) { return String(api.GetFilePath(path) || '') !== ''; }
function archivePath(pack) { return appPath + 'Downloads' + sep + pack.file; }

// Whether a file can be made in the Downloads folder: a settings file is written there and
// removed again.
function downloadsWritable() {
  const probe = appPath + 'Downloads' + sep + '.toolpage-probe.ini';
  const ok = Number(api.SetConfigString('probe', 'ok', '1', probe)) !== 0;
  api.DeleteFile(probe);
  return ok;
}

function testServerSelected() { return readConfig('system', 'run') === '1'; }

// The one installation the program finds in the player's Wine prefixes, asked the way the
// game's own tools ask for it: its registry value, which leaves config.ini as it is.
function foundGameFolder() {
  for (const key of ['Software\\Tencent\\CrossFire', 'Software\\Wow6432Node\\Tencent\\CrossFire']) {
    const folder = String(api.GetRegString(2, key, 'InstallPath') || '');
    if (folder) return folder;
  }
  return '';
}

function gameFolder(ask) {
  const tyf = testServerSelected();
  const key = tyf ? 'FOLDER_TYF' : 'FOLDER';
  let folder = readConfig('CF Info', key);
  if (!folder && !tyf) folder = foundGameFolder();
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

// ---- the page's record of each pack ----
// One value per archive file in toolpage.ini: "installed", "done", "paused:P", "downloading:P"
// or "failed:P:reason", P the last percentage reported. Earlier pages wrote "partial".

function readRecord(pack) {
  const text = String(api.GetConfigString(STATE_SECTION, pack.file, stateFile()) || '');
  const [state, percent, ...reason] = text.split(':');
  return { state: state || '', percent: percentOf(percent), reason: reason.join(':') };
}

function writeRecord(pack) {
  const p = pack.percent === null ? '' : String(pack.percent);
  const text = {
    installed: 'installed', done: 'done', paused: 'paused:' + p, pausing: 'paused:' + p,
    downloading: 'downloading:' + p, failed: 'failed:' + p + ':' + pack.reason,
  }[pack.state];
  api.SetConfigString(STATE_SECTION, pack.file, text || '', stateFile());
}

// ---- pack cards ----

// States: idle, checking (resumed to learn what is on disk), downloading, pausing, paused,
// done, installed, failed (with pack.reason), blocked (a file name another pack has).
function setPackState(pack, state, changes) {
  Object.assign(pack, changes || {});
  pack.state = state;
  if (state !== 'checking' && state !== 'blocked' && api) writeRecord(pack);
  showPack(pack);
}

function showPack(pack) {
  const card = pack.card;
  const state = pack.state;
  const stateEl = card.querySelector('.state');
  const actions = card.querySelector('.actions');
  const download = card.querySelector('.download');
  const percent = pack.percent === null ? '' : ' ' + pack.percent + '%';
  card.dataset.state = state;
  stateEl.className = 'state';
  card.querySelector('.fill').style.width = (pack.percent || 0) + '%';
  card.querySelector('.bar').hidden = !['checking', 'downloading', 'pausing', 'paused'].includes(state) &&
    !(state === 'failed' && pack.percent > 0);
  if (actions) {
    actions.hidden = state === 'checking' || state === 'pausing' || state === 'blocked';
    card.querySelector('.pause').hidden = state !== 'downloading';
    download.hidden = state === 'downloading';
    download.textContent = { paused: '继续', failed: '重试', done: '重新下载', installed: '重新下载' }[state] || '下载';
    card.querySelector('.install').hidden = !(state === 'done' || (state === 'installed' && pack.archive));
  }
  let text = '';
  switch (state) {
    case 'checking': text = '正在核对下载进度…'; break;
    case 'downloading': text = '下载中' + percent; break;
    case 'pausing': text = '正在暂停' + percent; break;
    case 'paused': text = pack.percent === null ? '未下载完，可继续下载' : '已暂停' + percent; break;
    case 'done': text = '已下载'; stateEl.classList.add('ok'); break;
    case 'installed': text = '已安装'; stateEl.classList.add('ok'); break;
    case 'failed': text = '下载失败：' + pack.reason; stateEl.classList.add('error'); break;
    case 'blocked': text = pack.reason; stateEl.classList.add('error'); break;
  }
  stateEl.textContent = text;
  stateEl.title = text;
}

// Why a download that DownloadFile did not start cannot start, or '' when it is most likely
// running already (started before this page loaded, or by the program's own install window).
function cannotStartReason(pack) {
  if (!fileExists(archivePath(pack))) return '无法在程序目录中创建下载文件，请检查程序目录是否可写。';
  if (!downloadsWritable()) return '程序目录的 Downloads 文件夹不可写。';
  return '';
}

// Starts or resumes the pack's download; `mode` is the state while it runs: downloading, or
// checking when the page only wants the first report.
function runDownload(pack, mode) {
  const reports = pack.reports;
  pack.state = mode;
  pack.inCall = true;
  const started = Number(api.DownloadFile(pack.address, pack.file, JOB_HIGH, pack.job));
  pack.inCall = false;
  pack.heard = true;
  if (pack.reports !== reports) return 'reported'; // settled by a report inside the call
  if (started === 1) {
    setPackState(pack, mode);
    return 'started';
  }
  const reason = cannotStartReason(pack);
  if (reason) {
    setPackState(pack, 'failed', { reason });
    setStatus('无法开始下载“' + pack.name + '”：' + reason, true);
    return 'failed';
  }
  setPackState(pack, 'downloading');
  return 'running';
}

function startDownload(pack) {
  if (pack.state === 'done' || pack.state === 'installed') {
    // A fresh download, not a resume of the finished file.
    api.DeleteFile(archivePath(pack));
    pack.percent = 0;
  }
  const resumed = fileExists(archivePath(pack));
  switch (runDownload(pack, 'downloading')) {
    case 'started': setStatus((resumed ? '继续下载：' : '开始下载：') + pack.name); break;
    case 'running': setStatus('“' + pack.name + '”已在下载中。'); break;
  }
}

// Asks the job to stop; it reports -100 at its next network event. No report at all means it
// was not running (another window's download of the same file, say), so it counts as paused.
function requestPause(pack) {
  api.PauseDownload(JOB_HIGH, pack.job);
  setPackState(pack, 'pausing');
  clearTimeout(pack.pauseTimer);
  pack.pauseTimer = setTimeout(() => {
    if (pack.state === 'pausing') setPackState(pack, 'paused');
  }, PAUSE_WAIT_MS);
}

function pauseDownload(pack) {
  pack.userPause = true;
  requestPause(pack);
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
    setPackState(pack, 'installed', { archive: true });
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

// The card's first state, from the archive on disk and the page's record.
function reconcile(pack) {
  const record = readRecord(pack);
  pack.percent = record.percent;
  pack.record = record;
  pack.archive = fileExists(archivePath(pack));
  if (record.state === 'installed') {
    setPackState(pack, 'installed');
  } else if (!pack.archive) {
    if (record.state === 'failed') setPackState(pack, 'failed', { reason: record.reason });
    else setPackState(pack, 'idle', { percent: null });
  } else {
    // A download the user left running goes on; anything else is only checked.
    runDownload(pack, record.state === 'downloading' ? 'downloading' : 'checking');
  }
}

// A check that could not reach the server: the record is all there is to go by.
function checkFailed(pack) {
  const record = pack.record || {};
  if (record.state === 'done') setPackState(pack, 'done');
  else setPackState(pack, 'paused', { percent: record.percent });
  setStatus('无法连接服务器，“' + pack.name + '”的下载进度未能核对。', true);
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
  const byFile = new Map(); // lower-case file name -> pack: they would share Downloads/<file>
  for (const entry of list) {
    const pack = Object.assign({ state: 'idle', percent: null, reason: '', reports: 0 }, entry);
    // Addresses may be relative to the page, as in a catalogue served as a plain file.
    pack.address = new URL(entry.address || '/packs/' + entry.file, location.href).href;
    if (entry.preview) pack.preview = new URL(entry.preview, location.href).href;
    packs.push(pack);
    container.appendChild(buildCard(pack));
    const owner = byFile.get(String(pack.file).toLowerCase());
    if (owner) {
      setPackState(pack, 'blocked', { reason: '与“' + owner.name + '”的文件同名，无法下载' });
      continue;
    }
    byFile.set(String(pack.file).toLowerCase(), pack);
    pack.job = jobIdFor(pack.file);
    byJob.set(pack.job, pack);
    if (api) reconcile(pack);
  }
  applyFilter();
  setStatus(list.length ? '共 ' + list.length + ' 个资源' + (api ? '' : '（只读浏览）') : '暂时没有资源。');
}

// Called by the program from its download workers (on the page's thread): status 1 progress,
// 2 complete, -1 failed, -100 paused.
function OnDownloadProgress(status, idHigh, idLow, percent) {
  const pack = byJob.get(Number(idLow));
  if (!pack || Number(idHigh) !== JOB_HIGH) return;
  pack.reports++;
  pack.heard = true;
  switch (Number(status)) {
    case 1:
      pack.percent = percentOf(percent);
      if (pack.state === 'checking') {
        // The check has what it came for: the true percentage. Back to paused.
        requestPause(pack);
      } else if (pack.state === 'pausing') {
        setPackState(pack, 'pausing');
      } else {
        setPackState(pack, 'downloading');
      }
      break;
    case 2: {
      const quiet = pack.state === 'checking';
      setPackState(pack, 'done', { percent: 100, archive: true });
      if (!quiet) setStatus('下载完成：' + pack.name + '，点击“安装”放入游戏目录。');
      break;
    }
    case -1:
      if (pack.state === 'checking') {
        checkFailed(pack);
      } else {
        const reason = pack.inCall ? '下载地址无法使用。' : '没有从服务器取得文件（服务器出错或连接中断）。';
        setPackState(pack, 'failed', { reason });
        setStatus('下载失败：' + pack.name + '，' + reason, true);
      }
      break;
    case -100:
      setPackState(pack, 'paused');
      if (pack.userPause) setStatus('已暂停：' + pack.name);
      pack.userPause = false;
      break;
  }
}
window.OnDownloadProgress = OnDownloadProgress;

// Downloads that report nothing for a while are looked at again: one that has stopped (it
// ended while the page was away, or the file was busy) is resumed, one that cannot run says so.
function watchDownloads() {
  for (const pack of packs) {
    if (pack.state !== 'downloading') continue;
    if (!pack.heard) runDownload(pack, 'downloading');
    pack.heard = false;
  }
}

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

// What the page shows may have changed while it was away: a link installed or repaired the game,
// or a folder was chosen in the settings or for a link.
function refreshState() {
  if (api) showGameFolder();
  showAccount();
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
    setInterval(watchDownloads, WATCH_MS);
  } else {
    $('browsernote').hidden = false;
  }
  showAccount();
  wireControls();
  loadCatalogue();
  document.addEventListener('visibilitychange', () => { if (!document.hidden) refreshState(); });
  window.addEventListener('focus', refreshState);
}

// The program may attach window.external a moment after the document starts; wait briefly.
(function waitForApi(triesLeft) {
  if (findApi() || triesLeft <= 0) start();
  else setTimeout(() => waitForApi(triesLeft - 1), 50);
})(document.readyState === 'complete' ? 4 : 10);
