import * as L from './logic.js';
import { $, app, element, selectedSong, setStatus } from './app.js';
import { outputProblems, renderTransport } from './transport.js';
import { songChanged } from './songs.js';
import { renderAll } from './view.js';

// ---- Editor input ------------------------------------------------------------------------------------------

export function fieldProblems() {
    return [...app.fieldErrors.values()].map((text) => ({ level: 'error', text }));
}

// A number field changes the song only when it holds a valid value; until then Play is held back.
export function bindNumberField(id, { read, valid, message, apply }) {
    const input = $(id);
    input.addEventListener('input', () => {
        const value = read(input.value);
        if (valid(value)) {
            app.fieldErrors.delete(id);
            input.removeAttribute('aria-invalid');
            apply(value);
        } else {
            app.fieldErrors.set(id, message);
            input.setAttribute('aria-invalid', 'true');
            renderProblems();
            renderTransport();
        }
    });
    input.addEventListener('change', () => {
        if (app.fieldErrors.has(id)) {
            app.fieldErrors.delete(id);
            input.removeAttribute('aria-invalid');
            setStatus(`${message} The previous value was kept.`);
            renderAll({ editor: true });
        }
    });
}

export function readStrictInteger(text) {
    return L.parseInteger(text.trim());
}

export function readNumber(text) {
    const trimmed = text.trim();
    return trimmed === '' ? NaN : Number(trimmed);
}

export function setTempo(value) {
    const song = selectedSong();
    const limits = L.LIMITS.tempo;
    song.tempo = Math.min(limits[1], Math.max(limits[0], Math.round(value * 100) / 100));
    app.fieldErrors.delete('tempo');
    songChanged({ editor: true });
}

export function tap() {
    const now = performance.now();
    app.taps = app.taps.filter((time) => now - time < 6000).concat(now);
    const bpm = L.tapTempo(app.taps);
    const button = $('tapTempo');
    button.classList.add('flash');
    setTimeout(() => button.classList.remove('flash'), 90);
    if (bpm !== null) {
        setTempo(bpm);
        setStatus(`Tapped ${bpm} bpm.`);
    } else {
        setStatus('Keep tapping the beat…');
    }
}

export function applySectionsText() {
    const input = $('sectionsText');
    const parsed = L.parseSectionsDetailed(input.value);
    const song = selectedSong();
    const kept = parsed.entries.filter(L.sectionFits);
    const tooLong = parsed.entries.filter((entry) => !L.sectionFits(entry));
    const refuse = (text) => {
        setStatus(`${text} The sections were kept.`);
        input.value = L.formatSections(song.sections);
        renderSectionsHint();
    };
    if (kept.length === 0) return refuse('Nothing readable in the sections text. Write them like In:2,V:4,Ch:4.');
    if (kept.length > L.LIMITS.sections) return refuse(`A song can have at most ${L.LIMITS.sections} sections.`);
    // The text holds no tempo or metre: a section keeps its own when one of that name was there.
    const earlier = [...song.sections];
    song.sections = kept.map((entry) => {
        const at = earlier.findIndex((s) => s && s.label === entry.label);
        const own = at < 0 ? {} : L.sectionOwnMetre(earlier[at]);
        if (at >= 0) earlier[at] = null;
        return { label: entry.label, bars: entry.bars, ...own };
    });
    if (song.startSection >= song.sections.length) song.startSection = 0;
    const notes = [];
    if (parsed.skipped.length > 0) notes.push(`Not read: ${parsed.skipped.map((p) => `"${p}"`).join(', ')}.`);
    if (tooLong.length > 0) {
        notes.push(
            `Left out as too long (names up to ${L.LIMITS.labelLength} characters, up to ${L.LIMITS.bars} bars): ` +
                `${tooLong.map((e) => `"${e.label}:${e.bars}"`).join(', ')}.`,
        );
    }
    if (notes.length > 0) setStatus(notes.join(' '));
    songChanged({ sections: true });
}

export function addSection(label) {
    const song = selectedSong();
    if (song.sections.length >= L.LIMITS.sections) return;
    song.sections.push({ label, bars: label === 'In' || label === 'Out' ? 2 : 4 });
    songChanged({ sections: true });
    const rows = $('sectionRows').querySelectorAll('input.label');
    if (label === '' && rows.length > 0) rows[rows.length - 1].focus();
}

export function moveSection(index, step) {
    const song = selectedSong();
    const target = index + step;
    if (target < 0 || target >= song.sections.length) return;
    const [section] = song.sections.splice(index, 1);
    song.sections.splice(target, 0, section);
    if (song.startSection === index) song.startSection = target;
    else if (song.startSection === target) song.startSection = index;
    songChanged({ sections: true });
    const buttons = $('sectionRows').querySelectorAll(`button[data-move="${step}"]`);
    if (buttons[target]) buttons[target].focus();
}

export function removeSection(index) {
    const song = selectedSong();
    const startBefore = song.startSection;
    const [removed] = song.sections.splice(index, 1);
    if (song.startSection === index || song.startSection >= song.sections.length) song.startSection = 0;
    else if (song.startSection > index) song.startSection -= 1;
    songChanged({ sections: true });
    setStatus(`Removed section "${removed.label}".`, {
        label: 'Undo',
        run: () => {
            song.sections.splice(index, 0, removed);
            song.startSection = startBefore;
            songChanged({ sections: true });
        },
    });
}

// ---- Rendering ---------------------------------------------------------------------------------------------

export function renderEditorFields() {
    const song = selectedSong();
    $('songTitle').value = song.title;
    $('tempo').value = String(song.tempo);
    $('beatsPerBar').value = String(song.beatsPerBar);
    $('countInBars').value = String(song.countInBars);
    $('padKey').value = song.padKey;
    $('padChart').value = song.chart;
    $('totalChannels').value = app.rig.totalChannels === null ? '' : String(app.rig.totalChannels);
    for (const id of ['tempo', 'beatsPerBar', 'countInBars', 'totalChannels'])
        $(id).removeAttribute('aria-invalid');
    if (document.activeElement !== $('sectionsText')) $('sectionsText').value = L.formatSections(song.sections);
}

export function renderSectionRows() {
    const song = selectedSong();
    const rows = song.sections.map((section, index) => {
        const label = element('input', {
            type: 'text',
            className: 'label',
            value: section.label,
            maxlength: String(L.LIMITS.labelLength),
            'aria-label': `Name of section ${index + 1}`,
            spellcheck: 'false',
            autocomplete: 'off',
        });
        label.addEventListener('input', () => {
            section.label = label.value;
            songChanged();
        });
        const bars = element('input', {
            type: 'number',
            className: 'bars',
            value: String(section.bars),
            min: String(-L.LIMITS.bars),
            max: String(L.LIMITS.bars),
            step: '1',
            'aria-label': `Bars of section ${index + 1}`,
        });
        const fieldId = `bars-${index}`;
        bars.addEventListener('input', () => {
            const value = readStrictInteger(bars.value);
            if (value !== null && value <= L.LIMITS.bars && value >= -L.LIMITS.bars) {
                app.fieldErrors.delete(fieldId);
                bars.removeAttribute('aria-invalid');
                section.bars = value;
                songChanged();
            } else {
                app.fieldErrors.set(
                    fieldId,
                    `Section ${index + 1}: bars must be a whole number up to ${L.LIMITS.bars}.`,
                );
                bars.setAttribute('aria-invalid', 'true');
                renderProblems();
                renderTransport();
            }
        });
        bars.addEventListener('change', () => {
            if (app.fieldErrors.delete(fieldId)) renderAll({ sections: true });
        });
        return element('tr', { className: song.startSection === index && index > 0 ? 'start' : '' }, [
            element('td', { className: 'idx', text: String(index + 1) }),
            element('td', {}, label),
            element('td', {}, bars),
            element('td', {}, ownField(section, index, 'tempo', song.tempo)),
            element('td', {}, ownField(section, index, 'beatsPerBar', song.beatsPerBar)),
            element('td', { className: 'when' }),
            element('td', { className: 'row-actions' }, [
                element('button', {
                    type: 'button',
                    'data-move': '-1',
                    'aria-label': `Move section ${index + 1} up`,
                    text: '▲',
                    disabled: index === 0,
                    onclick: () => moveSection(index, -1),
                }),
                element('button', {
                    type: 'button',
                    'data-move': '1',
                    'aria-label': `Move section ${index + 1} down`,
                    text: '▼',
                    disabled: index === song.sections.length - 1,
                    onclick: () => moveSection(index, 1),
                }),
                element('button', {
                    type: 'button',
                    'aria-label': `Remove section ${index + 1}`,
                    text: '✕',
                    onclick: () => removeSection(index),
                }),
            ]),
        ]);
    });
    $('sectionRows').replaceChildren(...rows);
}

// A section's own tempo or beats per bar; empty takes the song's, shown as the placeholder.
function ownField(section, index, name, songValue) {
    const tempo = name === 'tempo';
    const input = element('input', {
        type: 'number',
        className: 'own',
        value: section[name] === undefined ? '' : String(section[name]),
        placeholder: String(songValue),
        min: String(L.LIMITS[name][0]),
        max: String(L.LIMITS[name][1]),
        step: tempo ? 'any' : '1',
        'aria-label': `${tempo ? 'Tempo' : 'Beats per bar'} of section ${index + 1}`,
    });
    const fieldId = `${name}-${index}`;
    input.addEventListener('input', () => {
        const empty = input.value.trim() === '';
        const value = tempo ? readNumber(input.value) : readStrictInteger(input.value);
        if (empty || (value !== null && L.sectionOwnMetre({ [name]: value }))) {
            app.fieldErrors.delete(fieldId);
            input.removeAttribute('aria-invalid');
            if (empty) delete section[name];
            else section[name] = value;
            songChanged();
            return;
        }
        const what = tempo ? `tempo must be between ${L.LIMITS.tempo.join(' and ')} bpm`
            : `beats per bar must be a whole number from ${L.LIMITS.beatsPerBar.join(' to ')}`;
        app.fieldErrors.set(fieldId, `Section ${index + 1}: ${what}, or empty for the song's.`);
        input.setAttribute('aria-invalid', 'true');
        renderProblems();
        renderTransport();
    });
    input.addEventListener('change', () => {
        if (app.fieldErrors.delete(fieldId)) renderAll({ sections: true });
    });
    return input;
}

// When each section starts, from the first count-in beat.
export function renderSectionTimes() {
    const layout = L.layoutSong(selectedSong());
    [...$('sectionRows').querySelectorAll('td.when')].forEach((cell, index) => {
        const section = layout ? layout.sections[index] : null;
        cell.textContent = section ? L.formatClock(section.startTime) : '';
    });
}

export function renderSectionsHint() {
    const input = $('sectionsText');
    const song = selectedSong();
    if (document.activeElement !== input) input.value = L.formatSections(song.sections);
    const hint = $('sectionsHint');
    const parsed = L.parseSectionsDetailed(input.value);
    const unsafe = song.sections.filter((s) => L.labelTextProblem(s.label) === 'separator');
    const parts = [];
    if (document.activeElement === input && input.value !== L.formatSections(song.sections)) {
        parts.push(
            element('span', {
                text: `Enter to use ${parsed.entries.length} section${parsed.entries.length === 1 ? '' : 's'}. `,
            }),
        );
    }
    if (parsed.skipped.length > 0) {
        parts.push(
            element('span', {
                className: 'bad',
                text: `Not read: ${parsed.skipped.map((p) => `"${p}"`).join(', ')} (write name:bars). `,
            }),
        );
    }
    if (unsafe.length > 0) {
        parts.push(element('span', { className: 'bad', text: 'Names with "," or ":" cannot be written as text.' }));
    }
    hint.replaceChildren(...parts);
}

export function renderStartOptions() {
    const song = selectedSong();
    const select = $('startSection');
    const options = [element('option', { value: '0', text: 'Beginning, with count-in' })];
    song.sections.forEach((section, index) => {
        if (index > 0)
            options.push(
                element('option', {
                    value: String(index),
                    text: `${index + 1}. ${L.sectionName(section.label, index)}`,
                }),
            );
    });
    const signature = options.map((o) => o.textContent).join('\n');
    if (select.dataset.signature !== signature) {
        select.replaceChildren(...options);
        select.dataset.signature = signature;
    }
    select.value = String(song.startSection);
}

export function renderSummary() {
    const song = selectedSong();
    const plan = L.planPlayback(song);
    if (!plan) {
        $('songSummary').textContent = '';
        return;
    }
    const start = plan.cut
        ? `, from "${L.sectionName(song.sections[plan.startSection].label, plan.startSection)}" ` +
          '(one bar before it, no count-in)'
        : '';
    $('songSummary').textContent =
        `${plan.layout.songBars} bars · plays ${L.formatClock(plan.totalDuration)}${start}`;
}

export function renderProblems() {
    const song = selectedSong();
    const plan = L.planPlayback(song);
    const chart = L.chartBars(song, plan);
    const songList = [...fieldProblems(), ...L.songProblems(song)];
    const outputList = outputProblems();
    const padList = L.padProblems(song, app.rig, chart);
    const fill = (id, list) =>
        $(id).replaceChildren(...list.map((p) => element('li', { className: p.level, text: p.text })));
    fill('songProblems', songList);
    fill('padProblems', padList);
    fill('outputProblems', outputList);
    setBadge('song', songList);
    setBadge('pad', padList);
    setBadge('outputs', outputList);
    const logBadge = $('badge-log');
    logBadge.hidden = app.unseenLogErrors === 0;
    logBadge.textContent = String(app.unseenLogErrors);
}

export function setBadge(tab, list) {
    const badge = $(`badge-${tab}`);
    const errors = list.filter((p) => p.level === 'error').length;
    badge.hidden = list.length === 0;
    badge.textContent = String(errors || list.length);
    badge.className = `badge${errors ? '' : ' warn'}`;
}
