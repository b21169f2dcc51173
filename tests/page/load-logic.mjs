// Loads the control page's pure logic the way the page runs it, but in a context without any DOM,
// so that the logic is proven not to touch one.
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

export const pagePath = fileURLToPath(new URL('../../resources/bridge-test.html', import.meta.url));

export function loadLogic() {
    const html = readFileSync(pagePath, 'utf8');
    const match = /<script id="cadenzo-logic">([\s\S]*?)<\/script>/.exec(html);
    if (!match) throw new Error('the page has no cadenzo-logic script');
    const context = vm.createContext({});
    vm.runInContext(match[1], context, { filename: 'cadenzo-logic' });
    return context.CadenzoLogic;
}

// Values made in the other context have that context's prototypes; compare their data.
export function plain(value) {
    return JSON.parse(JSON.stringify(value));
}
