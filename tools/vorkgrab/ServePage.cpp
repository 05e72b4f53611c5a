// The live camera page that serve sends: the picture as an MJPEG stream, the
// camera's controls as sliders, the format, a Snap button and the camera list.
// It asks /api/state for what to show and posts the user's changes as JSON.
#include "Commands.h"

extern const char kServePage[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>vorkgrab</title>
<style>
  body { font-family: sans-serif; margin: 0; background: #1e1f22; color: #e6e6e6; }
  header { padding: 10px 16px; background: #2b2d31; display: flex; gap: 16px; align-items: baseline; }
  header h1 { font-size: 18px; margin: 0; }
  #status { color: #9ad29a; }
  #status.lost { color: #ff7b72; font-weight: bold; }
  main { display: flex; gap: 16px; padding: 16px; align-items: flex-start; }
  /* The picture shrinks to what the window leaves beside the panel. */
  main > div:first-child { flex: 1 1 auto; min-width: 0; }
  #live { background: #000; max-width: 100%; height: auto; border: 1px solid #444; box-sizing: border-box; }
  .panel { background: #2b2d31; padding: 12px; border-radius: 6px; min-width: 300px; flex: 0 0 auto; }
  .panel h2 { font-size: 14px; margin: 8px 0; color: #b5bac1; text-transform: uppercase; }
  .control { display: grid; grid-template-columns: 100px minmax(80px, 1fr) 42px max-content; gap: 6px; align-items: center; margin: 4px 0; }
  .control output { text-align: right; }
  .control label { white-space: nowrap; }
  button { background: #5865f2; color: white; border: 0; padding: 6px 12px; border-radius: 4px; cursor: pointer; }
  button.plain { background: #4e5058; }
  select, input[type=number] { background: #1e1f22; color: #e6e6e6; border: 1px solid #555; padding: 3px; }
  #cameras li.connected { font-weight: bold; }
  #cameras li.connected::before { content: "\25CF  "; color: #9ad29a; }
  #events { font-family: monospace; font-size: 12px; white-space: pre-wrap; }
  #events .error { color: #ffb86b; }
  #events .info { color: #b5bac1; }
  #snapshot { max-width: 300px; display: none; margin-top: 8px; border: 1px solid #444; }
  #message { color: #ffb86b; }
</style>
</head>
<body>
<header><h1>vorkgrab</h1><span id="status">starting</span><span>frames: <span id="frames">0</span></span>
  <span id="message"></span></header>
<main>
  <div>
    <img id="live" alt="live picture">
    <div id="events"></div>
  </div>
  <div class="panel">
    <h2>Controls</h2>
    <div id="controls"></div>
    <h2>Format</h2>
    <div>
      <select id="mode"><option value="0">0 RGB8</option><option value="2">2 RGB555</option><option value="3">3 RGB565</option>
        <option value="4">4 RGB24</option><option value="5">5 RGB32</option></select>
      <select id="size"></select>
      <input id="fps" type="number" min="1" max="1000" step="any" style="width:70px" title="frames per second">
      <button id="apply" class="plain">Apply</button>
    </div>
    <div id="camera"></div>
    <h2>Snap</h2>
    <button id="snap">Snap</button> <span id="saved"></span><br>
    <img id="snapshot" alt="the last snap">
    <h2>Cameras</h2>
    <ul id="cameras"></ul>
    <button id="stop" class="plain">Stop the server</button>
  </div>
</main>
<script>
const $ = (id) => document.getElementById(id);
// Beyond loopback the server gives its address with a token; the page keeps it
// for its own requests.
const token = new URLSearchParams(location.search).get("token");
const withToken = (url) => token ? url + (url.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token) : url;
const tokenHeader = token ? {"X-Vorkgrab-Token": token} : {};
let built = "";
async function post(path, params) {
  const r = await fetch(path, {method: "POST", headers: {"Content-Type": "application/json", ...tokenHeader},
                               body: JSON.stringify(params)});
  const answer = await r.json();
  $("message").textContent = answer.ok ? "" : answer.message;
  return answer;
}
function buildControls(properties) {
  const key = properties.map(p => p.name).join(",");
  if (key === built) return;
  built = key;
  const box = $("controls");
  box.innerHTML = "";
  for (const p of properties) {
    const row = document.createElement("div");
    row.className = "control";
    row.innerHTML = `<label for="p-${p.name}">${p.name}</label>
      <input type="range" min="0" max="100" id="p-${p.name}" name="${p.name}">
      <output id="v-${p.name}"></output>
      <label>${p.hasMode ? `<input type="checkbox" id="a-${p.name}"> ${p.name === "backlight" ? "on" : "auto"}` : ""}</label>`;
    box.appendChild(row);
    const slider = row.querySelector("input[type=range]");
    slider.addEventListener("change", () => send(p.name));
    const box2 = row.querySelector("input[type=checkbox]");
    if (box2) box2.addEventListener("change", () => send(p.name));
  }
}
function send(name) {
  const value = $("p-" + name).value;
  const check = $("a-" + name);
  if (name === "backlight") return post("/api/set", {name, value: check && !check.checked ? "off" : value});
  const params = {name, value};
  if (check) params.mode = check.checked ? "auto" : "manual";
  return post("/api/set", params);
}
async function refresh() {
  let s;
  try { s = await (await fetch("/api/state", {headers: tokenHeader})).json(); } catch (e) { $("status").textContent = "server gone"; return; }
  $("frames").textContent = s.frames;
  $("status").textContent = s.lost ? "camera lost, waiting for it" : (s.format ? "live" : "no picture");
  $("status").className = s.lost ? "lost" : "";
  if (s.message) $("message").textContent = s.message;
  buildControls(s.properties);
  for (const p of s.properties) {
    const slider = $("p-" + p.name);
    if (document.activeElement !== slider) slider.value = p.percent;
    $("v-" + p.name).textContent = p.name === "backlight" && !p.enabled ? "off" : p.percent + "%";
    const check = $("a-" + p.name);
    if (check && document.activeElement !== check) check.checked = p.name === "backlight" ? p.enabled : p.auto;
  }
  if (s.format) {
    if (document.activeElement !== $("mode")) $("mode").value = s.format.mode;
    const sizes = s.offered.filter((v, i, a) => a.indexOf(v) === i);
    if ($("size").options.length !== sizes.length) $("size").innerHTML = sizes.map(v => `<option>${v}</option>`).join("");
    if (document.activeElement !== $("size")) $("size").value = s.format.size;
    if (document.activeElement !== $("fps")) $("fps").value = s.format.fps.toFixed(2);
    $("camera").textContent = "the camera sends " + s.format.camera;
  }
  $("cameras").innerHTML = "";
  for (const c of s.cameras) {
    const li = document.createElement("li");
    li.textContent = c.name + " ";
    if (c.connected) li.className = "connected";
    else {
      const b = document.createElement("button");
      b.className = "plain"; b.textContent = "connect";
      b.onclick = () => post("/api/camera", {index: c.index});
      li.appendChild(b);
    }
    $("cameras").appendChild(li);
  }
  $("events").innerHTML = "";
  for (const e of s.events) {
    const line = document.createElement("div");
    line.className = e.info ? "info" : "error";
    line.textContent = e.text;
    $("events").appendChild(line);
  }
}
$("apply").onclick = () => post("/api/format", {mode: $("mode").value, size: $("size").value, fps: $("fps").value});
$("snap").onclick = async () => {
  const answer = await post("/api/snap", {});
  if (!answer.ok) return;
  $("saved").textContent = "saved " + answer.message;
  $("snapshot").src = withToken("/api/snapshot?t=" + Date.now());
  $("snapshot").style.display = "block";
};
$("stop").onclick = () => post("/api/stop", {});
$("live").src = withToken("/stream");
setInterval(refresh, 500);
refresh();
</script>
</body>
</html>
)PAGE";
