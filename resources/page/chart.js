// The Pad tab's chart: one cell per bar, under its section.
import * as L from './logic.js';
import { $, app, element, selectedSong } from './app.js';
import { renderPosition } from './transport.js';

export function renderChart() {
    const song = selectedSong();
    const grid = $('chartGrid');
    const plan = L.planPlayback(song);
    if (!plan) {
        grid.replaceChildren(
            element('p', { className: 'muted', text: 'Fix the song on the Song tab to see its bars here.' }),
        );
        return;
    }
    if (song.padKey === '') {
        grid.replaceChildren(
            element('p', {
                className: 'muted',
                text: 'Choose a key to play a pad. Without a chart the pad holds the key chord.',
            }),
        );
        return;
    }
    const chart = L.chartBars(song, plan);
    const playing = app.transport.state.phase === 'playing' && app.transport.state.songId === song.id;
    const rows = plan.layout.sections.map((section) =>
        element('div', { className: 'chart-row' }, [
            element('div', {
                className: 'sec',
                title: section.label,
                text: L.sectionName(section.label, section.index),
            }),
            element(
                'div',
                { className: 'chart-bars' },
                chart.bars
                    .filter((bar) => bar.sectionIndex === section.index)
                    .map((bar) => {
                        const classes = ['bar-cell', bar.status, bar.skipped ? 'skipped' : '']
                            .filter(Boolean)
                            .join(' ');
                        const chord =
                            bar.status === 'invalid'
                                ? 'not understood'
                                : bar.status === 'empty'
                                  ? 'key chord'
                                  : bar.name;
                        const name = L.sectionName(section.label, section.index);
                        const where = `Bar ${bar.barInSection} of ${name} (song bar ${bar.songBar + 1})`;
                        const note =
                            bar.status === 'invalid'
                                ? ': not a chord the player reads; the key chord plays'
                                : bar.status === 'empty'
                                  ? ': no symbol; the key chord plays'
                                  : '';
                        return element(
                            'div',
                            { className: classes, dataset: { bar: String(bar.songBar) }, title: where + note },
                            [
                                element('span', { className: 'no', text: String(bar.songBar + 1) }),
                                element('span', { className: 'sym', text: bar.typed === null ? '·' : bar.typed }),
                                element('span', { className: 'chord', text: chord }),
                            ],
                        );
                    }),
            ),
        ]),
    );
    if (chart.extra.length > 0) {
        rows.push(
            element('p', { className: 'extra', text: `Beyond the last bar, not heard: ${chart.extra.join(' ')}` }),
        );
    }
    grid.replaceChildren(...rows);
    if (playing) renderPosition();
}
