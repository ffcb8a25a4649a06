// The frame viewer of a vanto review page. Reads the page's embedded JSON (#vanto-data):
// frames as PNG data URIs (gray as analysed, labels as R = low byte, G = high byte of the CTC
// mask label), cell centres of every analysed frame, per-frame counts and the track tables.
// Everything stays in the page: no request leaves it.
(function () {
    "use strict";

    const data = JSON.parse(document.getElementById("vanto-data").textContent);
    const $ = (id) => document.getElementById(id);
    const base = $("frame");
    const overlay = $("overlay");
    const slider = $("slider");
    const tip = $("tip");
    const factor = data.factor;
    const shownWidth = Math.ceil(data.width / factor);
    const shownHeight = Math.ceil(data.height / factor);
    const CACHE_SIZE = 24;
    const HIGHLIGHT = [255, 255, 0];

    // The outline colour of a track: a golden-angle hue at fixed saturation and lightness, never
    // gray; the same arithmetic as the thumbnails of the index page.
    function trackColour(track) {
        const h = (track * 137.508) % 360, s = 0.9, l = 0.55;
        const c = (1 - Math.abs(2 * l - 1)) * s;
        const x = c * (1 - Math.abs(((h / 60) % 2) - 1));
        const m = l - c / 2;
        const sector = Math.floor(h / 60);
        const [r, g, b] = [[c, x, 0], [x, c, 0], [0, c, x], [0, x, c], [x, 0, c], [c, 0, x]][sector];
        return [r, g, b].map((v) => Math.floor((v + m) * 255 + 0.5));
    }
    const css = (rgb) => `rgb(${rgb[0]},${rgb[1]},${rgb[2]})`;

    // Cell centres: per analysed frame, flat [label, 10 x, 10 y, ...]; per track its centres by frame.
    const trackPoints = new Map();
    data.pos.forEach((flat, index) => {
        for (let i = 0; i < flat.length; i += 3) {
            const track = flat[i] - 1;
            if (!trackPoints.has(track)) trackPoints.set(track, []);
            trackPoints.get(track).push([index + 1, flat[i + 1] / 10, flat[i + 2] / 10]);
        }
    });

    const state = { index: 0, selected: null, playing: null, drawnFrame: 0, hover: null };
    const cache = new Map();

    function loadImage(uri) {
        return new Promise((resolve, reject) => {
            const image = new Image();
            image.onload = () => resolve(image);
            image.onerror = () => reject(new Error("a frame image could not be decoded"));
            image.src = uri;
        });
    }

    function pixelsOf(image) {
        const c = document.createElement("canvas");
        c.width = shownWidth;
        c.height = shownHeight;
        const g = c.getContext("2d", { willReadFrequently: true });
        g.drawImage(image, 0, 0);
        return g.getImageData(0, 0, shownWidth, shownHeight).data;
    }

    // The decoded frame: gray bytes and labels, kept for the last few frames shown.
    async function decoded(index) {
        if (cache.has(index)) return cache.get(index);
        const [grayUri, labelUri] = data.images[index];
        const gray = pixelsOf(await loadImage(grayUri));
        let labels = null;
        if (labelUri) {
            const rgba = pixelsOf(await loadImage(labelUri));
            labels = new Uint16Array(shownWidth * shownHeight);
            for (let i = 0; i < labels.length; i++) labels[i] = rgba[4 * i] | (rgba[4 * i + 1] << 8);
        }
        const frame = { gray, labels };
        cache.set(index, frame);
        if (cache.size > CACHE_SIZE) cache.delete(cache.keys().next().value);
        return frame;
    }

    function isOutline(labels, i, x, y) {
        const l = labels[i];
        if (l === 0) return false;
        return (x === 0 || labels[i - 1] !== l) || (x === shownWidth - 1 || labels[i + 1] !== l) ||
            (y === 0 || labels[i - shownWidth] !== l) || (y === shownHeight - 1 || labels[i + shownWidth] !== l);
    }

    // The frame at its analysed (or downscaled) size: gray, outlines in their track's colour,
    // the selected track's outline in yellow.
    function paintBase(frame) {
        base.width = shownWidth;
        base.height = shownHeight;
        const g = base.getContext("2d", { willReadFrequently: true });
        const image = g.createImageData(shownWidth, shownHeight);
        const out = image.data;
        const colours = new Map();
        for (let y = 0, i = 0; y < shownHeight; y++) {
            for (let x = 0; x < shownWidth; x++, i++) {
                const v = frame.gray[4 * i];
                let rgb = null;
                if (frame.labels && $("show-outlines").checked && isOutline(frame.labels, i, x, y)) {
                    const track = frame.labels[i] - 1;
                    if (track === state.selected) rgb = HIGHLIGHT;
                    else {
                        if (!colours.has(track)) colours.set(track, trackColour(track));
                        rgb = colours.get(track);
                    }
                }
                out[4 * i] = rgb ? rgb[0] : v;
                out[4 * i + 1] = rgb ? rgb[1] : v;
                out[4 * i + 2] = rgb ? rgb[2] : v;
                out[4 * i + 3] = 255;
            }
        }
        g.putImageData(image, 0, 0);
    }

    function currentFrame() { return data.shown[state.index]; }

    // Analysed pixel coordinates to overlay canvas coordinates.
    function overlayScale() { return overlay.width / data.width; }

    function paintOverlay() {
        const rect = base.getBoundingClientRect();
        const ratio = window.devicePixelRatio || 1;
        overlay.width = Math.max(1, Math.round(rect.width * ratio));
        overlay.height = Math.max(1, Math.round(rect.height * ratio));
        overlay.style.width = rect.width + "px";
        overlay.style.height = rect.height + "px";
        const g = overlay.getContext("2d");
        const k = overlayScale();
        const frame = currentFrame();
        const tail = Math.max(0, parseInt($("tail-length").value, 10) || 0);
        const centres = data.pos[frame - 1] || [];
        g.lineJoin = "round";
        if ($("show-tails").checked && tail > 0) {
            g.lineWidth = 1.5 * ratio;
            for (let i = 0; i < centres.length; i += 3) {
                const track = centres[i] - 1;
                const points = trackPoints.get(track);
                const end = frame - points[0][0];
                const start = Math.max(0, end - tail);
                if (end <= start) continue;
                g.strokeStyle = css(trackColour(track));
                g.beginPath();
                for (let p = start; p <= end; p++) {
                    const [, x, y] = points[p];
                    if (p === start) g.moveTo(x * k, y * k); else g.lineTo(x * k, y * k);
                }
                g.stroke();
            }
        }
        if (state.selected !== null && trackPoints.has(state.selected)) {
            const points = trackPoints.get(state.selected);
            g.strokeStyle = css(HIGHLIGHT);
            g.lineWidth = 2.5 * ratio;
            g.beginPath();
            points.forEach(([, x, y], p) => (p === 0 ? g.moveTo(x * k, y * k) : g.lineTo(x * k, y * k)));
            g.stroke();
            const here = points.find((p) => p[0] === frame);
            if (here) {
                g.beginPath();
                g.arc(here[1] * k, here[2] * k, 4 * ratio, 0, 2 * Math.PI);
                g.fillStyle = css(HIGHLIGHT);
                g.fill();
            }
        }
        if ($("show-events").checked) {
            const previous = state.index > 0 ? data.shown[state.index - 1] : 0;
            for (let f = previous + 1; f <= frame; f++) {
                for (const [x, y] of data.splitsAt[f] || []) marker(g, x * k, y * k, ratio, "split");
                for (const [x, y] of data.mergesAt[f] || []) marker(g, x * k, y * k, ratio, "merge");
            }
        }
        if ($("show-ids").checked) {
            g.font = `${Math.round(11 * ratio)}px sans-serif`;
            g.textAlign = "center";
            g.textBaseline = "middle";
            g.lineWidth = 3 * ratio;
            for (let i = 0; i < centres.length; i += 3) {
                const [x, y] = [centres[i + 1] / 10 * k, centres[i + 2] / 10 * k];
                g.strokeStyle = "black";
                g.strokeText(String(centres[i] - 1), x, y);
                g.fillStyle = "white";
                g.fillText(String(centres[i] - 1), x, y);
            }
        }
    }

    function marker(g, x, y, ratio, kind) {
        const r = 7 * ratio;
        g.lineWidth = 2 * ratio;
        g.strokeStyle = kind === "split" ? "#ff3df5" : "#00e5ff";
        g.beginPath();
        if (kind === "split") g.arc(x, y, r, 0, 2 * Math.PI);
        else { g.moveTo(x, y - r); g.lineTo(x + r, y); g.lineTo(x, y + r); g.lineTo(x - r, y); g.closePath(); }
        g.stroke();
    }

    function showCounts() {
        const frame = currentFrame();
        $("frame-number").textContent = String(frame);
        $("frame-name").textContent = data.names[state.index] || "";
        for (const key of ["cells", "new", "lost", "splits", "merges"]) {
            const values = data.counts[key];
            $("count-" + key).textContent = values ? String(values[frame - 1]) : "–";
        }
        const problem = data.unreadable[frame] || data.missingHere[frame] || "";
        $("frame-problem").textContent = problem;
        $("frame-problem").hidden = !problem;
    }

    function row(columns, values) {
        const table = document.createElement("table");
        columns.forEach((c, i) => {
            const tr = table.insertRow();
            tr.insertCell().textContent = c;
            tr.insertCell().textContent = values[i] === null ? "" : String(values[i]);
        });
        return table;
    }

    function showSelection() {
        const panel = $("selection");
        panel.replaceChildren();
        $("selected-track").textContent = state.selected === null ? "none" : String(state.selected);
        if (state.selected === null) return;
        const track = state.selected;
        const span = data.spans[track];
        const heading = document.createElement("p");
        heading.textContent = span
            ? `Track ${track}: frames ${span[0]} to ${span[1]}` + (span[2] !== null ? `, child of ${span[2]}` : "")
            : `Track ${track}`;
        panel.append(heading);
        const tables = [["_tracks.csv", data.tracks, String(track)],
            ["_objects.csv", data.objects, `${currentFrame()}:${track}`],
            ["_cell.csv (this frame)", data.cells, `${currentFrame()}:${track}`]];
        for (const [name, table, key] of tables) {
            if (!table || !table.rows[key]) continue;
            const h = document.createElement("h4");
            h.textContent = name;
            panel.append(h, row(table.columns, table.rows[key]));
        }
    }

    async function show(index) {
        state.index = Math.max(0, Math.min(data.shown.length - 1, index));
        slider.value = String(state.index);
        showCounts();
        showSelection();
        const wanted = state.index;
        const frame = await decoded(wanted);
        if (wanted !== state.index) return;
        paintBase(frame);
        paintOverlay();
        state.drawnFrame = currentFrame();
        base.dataset.frame = String(state.drawnFrame);
        // Decode ahead while playing or stepping.
        if (wanted + 1 < data.shown.length) decoded(wanted + 1).catch(() => {});
    }

    function labelAt(event) {
        const frame = cache.get(state.index);
        if (!frame || !frame.labels) return 0;
        const rect = base.getBoundingClientRect();
        const x = Math.floor((event.clientX - rect.left) / rect.width * shownWidth);
        const y = Math.floor((event.clientY - rect.top) / rect.height * shownHeight);
        if (x < 0 || y < 0 || x >= shownWidth || y >= shownHeight) return 0;
        return frame.labels[y * shownWidth + x];
    }

    function step(delta) { stop(); show(state.index + delta); }
    function stop() {
        if (state.playing !== null) clearInterval(state.playing);
        state.playing = null;
        $("play").textContent = "Play";
    }
    function play() {
        if (state.playing !== null) { stop(); return; }
        if (state.index === data.shown.length - 1) show(0);
        $("play").textContent = "Pause";
        state.playing = setInterval(() => {
            if (state.index >= data.shown.length - 1) stop();
            else show(state.index + 1);
        }, 1000 / Math.max(1, parseFloat($("speed").value) || 5));
    }

    slider.max = String(data.shown.length - 1);
    slider.addEventListener("input", () => { stop(); show(parseInt(slider.value, 10)); });
    $("prev").addEventListener("click", () => step(-1));
    $("next").addEventListener("click", () => step(1));
    $("play").addEventListener("click", play);
    for (const id of ["show-outlines"]) $(id).addEventListener("change", () => show(state.index));
    for (const id of ["show-ids", "show-tails", "show-events", "tail-length"]) {
        $(id).addEventListener("input", paintOverlay);
    }
    document.addEventListener("keydown", (event) => {
        const typing = event.target instanceof HTMLInputElement && event.target.type === "number";
        if (typing) return;
        const keys = { ArrowRight: () => step(1), ArrowLeft: () => step(-1), Home: () => step(-state.index),
            End: () => step(data.shown.length), " ": play };
        if (keys[event.key]) {
            event.preventDefault();
            keys[event.key]();
        }
    });
    base.addEventListener("click", (event) => {
        const label = labelAt(event);
        state.selected = label === 0 || state.selected === label - 1 ? null : label - 1;
        show(state.index);
    });
    base.addEventListener("mousemove", (event) => {
        const label = labelAt(event);
        if (label === 0) { tip.hidden = true; return; }
        tip.hidden = false;
        tip.textContent = `track ${label - 1}`;
        const stage = base.parentElement.getBoundingClientRect();
        tip.style.left = `${event.clientX - stage.left + 12}px`;
        tip.style.top = `${event.clientY - stage.top + 12}px`;
    });
    base.addEventListener("mouseleave", () => { tip.hidden = true; });
    window.addEventListener("resize", paintOverlay);
    base.style.width = `${data.displayWidth}px`;
    base.style.height = `${Math.round(data.displayWidth * data.height / data.width)}px`;

    // For the browser tests and for anyone scripting the page from the console.
    window.vantoReport = {
        state: () => ({ index: state.index, frame: currentFrame(), drawn: state.drawnFrame, selected: state.selected }),
        clientPoint(x, y) {
            const rect = base.getBoundingClientRect();
            return [rect.left + (x + 0.5) / data.width * rect.width, rect.top + (y + 0.5) / data.height * rect.height];
        },
        trackColour,
        highlight: HIGHLIGHT,
    };
    if (data.shown.length) show(0);
})();
