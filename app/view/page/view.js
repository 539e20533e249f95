// The suits in 3D, live from the frame stream, and their controls. Units
// are the suits' own: centimetres, Y up; joint angles in degrees about X, Y
// and Z, composed Rz * Rx * Ry, each relative to its parent.
'use strict';
(function () {
  const palette = [0xe6194b, 0x3cb44b, 0x4363d8, 0xf58231, 0x911eb4, 0x42d4f4, 0xf032e6, 0xbfef45];
  const modes = [['jumping', 'Jumping'], ['uneven-terrain', 'Uneven terrain'], ['ignore-floor', 'Ignore floor']];
  const $ = (id) => document.getElementById(id);

  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio);
  $('scene').appendChild(renderer.domElement);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x20232a);
  const camera = new THREE.PerspectiveCamera(45, 1, 5, 50000);
  camera.position.set(0, 450, 900);
  const orbit = new THREE.OrbitControls(camera, renderer.domElement);
  orbit.target.set(0, 90, 0);
  orbit.update();
  scene.add(new THREE.GridHelper(6000, 60, 0x777777, 0x3c3c3c));
  scene.add(new THREE.HemisphereLight(0xffffff, 0x404040, 0.9));
  const sun = new THREE.DirectionalLight(0xffffff, 0.6);
  sun.position.set(300, 900, 600);
  scene.add(sun);

  let joints = [];
  const bodies = new Map();  // suit index -> body
  // The camera follows the suits until the user takes it; Frame all
  // gives it back.
  let following = true;
  let recording = null;

  // The panels cover the right: the scene's centre moves left of them.
  function resize() {
    const w = window.innerWidth, h = window.innerHeight;
    renderer.setSize(w, h, false);
    camera.aspect = w / h;
    camera.setViewOffset(w, h, ($('panels').offsetWidth + 8) / 2, 0, w, h);
  }
  window.addEventListener('resize', resize);
  resize();

  function say(text, error) {
    $('message').textContent = text;
    $('message').className = error ? 'error' : '';
  }

  async function post(path, fields) {
    try {
      const answer = await fetch(path, { method: 'POST', body: new URLSearchParams(fields) });
      const text = (await answer.text()).trim();
      say(text || answer.statusText, !answer.ok);
      return answer.ok;
    } catch (error) {
      say('no answer from kestrion-host: ' + error.message, true);
      return false;
    }
  }

  function button(text, action) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = text;
    b.addEventListener('click', action);
    return b;
  }

  // Set null, set north and the three modes, for one suit or 'all'.
  function controlsFor(suit, into) {
    const row = document.createElement('div');
    row.className = 'row';
    row.append(button('Set null', () => post('/api/set-null', { suit })),
               button('Set north', () => post('/api/set-north', { suit })));
    into.append(row);
    for (const [mode, label] of modes) {
      const line = document.createElement('div');
      line.className = 'row';
      const name = document.createElement('span');
      name.textContent = label;
      line.append(name);
      const choices = ['on', 'off'].map((value) => button(value, async () => {
        if (await post('/api/' + mode, { suit, mode: value })) {
          choices.forEach((c) => c.classList.toggle('chosen', c.textContent === value));
        }
      }));
      line.append(...choices);
      into.append(line);
    }
  }

  function label(text, color) {
    const canvas = document.createElement('canvas');
    canvas.width = 128;
    canvas.height = 64;
    const g = canvas.getContext('2d');
    g.fillStyle = '#' + color.toString(16).padStart(6, '0');
    g.font = 'bold 48px sans-serif';
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    g.fillText(text, 64, 34);
    const sprite = new THREE.Sprite(new THREE.SpriteMaterial({ map: new THREE.CanvasTexture(canvas), depthTest: false }));
    sprite.scale.set(60, 30, 1);
    return sprite;
  }

  function makeBody(suit, color) {
    const material = new THREE.MeshLambertMaterial({ color });
    const stick = new THREE.CylinderBufferGeometry(3, 3, 1, 10);
    stick.translate(0, 0.5, 0);
    const group = new THREE.Group();
    const bones = [];  // [from joint, to joint or end site of, mesh]
    joints.forEach((joint, j) => {
      if (joint.parent >= 0) bones.push([joint.parent, j, false]);
      if (joint.end) bones.push([j, j, true]);
    });
    for (const bone of bones) {
      bone.push(new THREE.Mesh(stick, material));
      group.add(bone[3]);
    }
    const head = new THREE.Mesh(new THREE.SphereBufferGeometry(10, 16, 12), material);
    const tag = label(String(suit), color);
    group.add(head, tag);
    scene.add(group);

    const panel = document.createElement('div');
    panel.className = 'panel';
    panel.style.borderColor = '#' + color.toString(16).padStart(6, '0');
    panel.innerHTML = '<h2><span class="swatch"></span>Suit ' + suit + '</h2><dl>' +
      '<dt>position</dt><dd class="position">-</dd><dt>heading</dt><dd class="heading">-</dd>' +
      '<dt>frames/s</dt><dd class="fps">-</dd><dt>sample age</dt><dd class="age">-</dd></dl>';
    panel.querySelector('.swatch').style.background = panel.style.borderColor;
    const controls = document.createElement('div');
    controls.className = 'controls';
    controlsFor(String(suit), controls);
    panel.append(controls);
    $('panels').append(panel);
    return { group, bones, head, tag, panel, data: null, history: [], shownAt: 0 };
  }

  const up = new THREE.Vector3(0, 1, 0);
  const toRadians = Math.PI / 180;
  const euler = new THREE.Euler(0, 0, 0, 'ZXY');
  const local = new THREE.Quaternion();
  const v = new THREE.Vector3();

  function pose(body) {
    const s = body.data;
    const where = [], turn = [];
    joints.forEach((joint, j) => {
      euler.set(s.r[3 * j] * toRadians, s.r[3 * j + 1] * toRadians, s.r[3 * j + 2] * toRadians, 'ZXY');
      local.setFromEuler(euler);
      if (joint.parent < 0) {
        where[j] = new THREE.Vector3(s.p[0], s.p[1], s.p[2]);
        turn[j] = local.clone();
      } else {
        const p = joint.parent;
        where[j] = v.fromArray(joint.offset).applyQuaternion(turn[p]).add(where[p]).clone();
        turn[j] = turn[p].clone().multiply(local);
      }
    });
    for (const [from, to, end, mesh] of body.bones) {
      const a = where[from];
      const b = end ? v.fromArray(joints[to].end).applyQuaternion(turn[to]).add(where[to]).clone() : where[to];
      const along = b.clone().sub(a);
      mesh.position.copy(a);
      mesh.scale.set(1, Math.max(along.length(), 0.001), 1);
      mesh.quaternion.setFromUnitVectors(up, along.normalize());
    }
    const head = joints.length - 1;
    const top = v.fromArray(joints[head].end).multiplyScalar(0.5).applyQuaternion(turn[head]).add(where[head]);
    body.head.position.copy(top);
    body.tag.position.set(top.x, top.y + 45, top.z);
  }

  function showNumbers(body, now) {
    const s = body.data;
    body.history.push([now, s.n]);
    while (body.history.length > 2 && now - body.history[0][0] > 1000) body.history.shift();
    if (now - body.shownAt < 200) return;
    body.shownAt = now;
    const [then, n] = body.history[0];
    const fps = now > then ? (s.n - n) * 1000 / (now - then) : 0;
    const q = (c) => body.panel.querySelector(c);
    q('.position').textContent = s.p.map((x) => x.toFixed(0)).join(', ') + ' cm';
    q('.heading').textContent = s.r[1].toFixed(1) + '\u00b0';
    q('.fps').textContent = fps.toFixed(0);
    q('.age').textContent = s.age.toFixed(0) + ' ms';
  }

  function frameAll() {
    const centre = new THREE.Vector3();
    let count = 0, reach = 150;
    for (const body of bodies.values()) {
      if (!body.data) continue;
      centre.add(new THREE.Vector3(body.data.p[0], 90, body.data.p[2]));
      count++;
    }
    if (!count) return;
    centre.divideScalar(count);
    for (const body of bodies.values()) {
      if (body.data) reach = Math.max(reach, Math.hypot(body.data.p[0] - centre.x, body.data.p[2] - centre.z));
    }
    orbit.target.copy(centre);
    camera.position.set(centre.x, centre.y + reach * 1.2 + 200, centre.z + reach * 2.2 + 400);
    orbit.update();
  }
  orbit.addEventListener('start', () => { following = false; });
  $('frame-all').addEventListener('click', () => {
    following = true;
    frameAll();
  });

  function setUp(hello) {
    joints = hello.joints;
    for (const body of bodies.values()) {
      scene.remove(body.group);
      body.panel.remove();
    }
    bodies.clear();
    hello.suits.forEach((suit, i) => bodies.set(suit, makeBody(suit, palette[i % palette.length])));
    $('connection').textContent = hello.suits.length + (hello.suits.length === 1 ? ' suit' : ' suits') +
      ' at ' + hello.rate + ' Hz';
  }

  function showRecording(rec) {
    const b = $('record');
    recording = rec && rec.files ? rec : null;
    b.textContent = recording ? 'Stop' : 'Record';
    b.classList.toggle('recording', !!recording);
    $('record-status').textContent = recording ? 'recording ' + recording.files.join(', ') + ' (' +
      recording.frames + ' frames)' : rec && rec.error ? rec.error : '';
  }
  $('record').addEventListener('click', () => {
    if (recording) post('/api/record/stop', {});
    else post('/api/record/start', { file: $('file').value.trim() });
  });

  controlsFor('all', $('all-suits'));

  const events = new EventSource('/events');
  events.addEventListener('hello', (e) => setUp(JSON.parse(e.data)));
  events.addEventListener('frame', (e) => {
    const frame = JSON.parse(e.data);
    // The read's own time: frames may arrive in bursts.
    const now = frame.t * 1000;
    for (const s of frame.suits) {
      const body = bodies.get(s.i);
      if (!body) continue;
      body.data = s;
      showNumbers(body, now);
    }
    showRecording(frame.rec);
    if (following) frameAll();
    document.body.dataset.frames = String(frame.k);
  });
  events.addEventListener('error', () => { $('connection').textContent = 'reconnecting\u2026'; });

  function draw() {
    for (const body of bodies.values()) {
      if (body.data) pose(body);
    }
    orbit.update();
    renderer.render(scene, camera);
    requestAnimationFrame(draw);
  }
  requestAnimationFrame(draw);
})();
