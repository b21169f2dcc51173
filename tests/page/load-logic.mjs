// Loads the control page's pure logic the way the page runs it, but in a context without any DOM,
// so that the logic is proven not to touch one.
import { readFileSync } from 'node:fs';
import vm from 'node:vm';

export function loadLogic() {
    const html = readFileSync(new URL('../../resources/bridge-test.html', import.meta.url), 'utf8');
    const match = /<script id="cadenzo-logic">([\s\S]*?)<\/script>/.exec(html);
    return vm.runInNewContext(`${match[1]}\n;CadenzoLogic`, {}, { filename: 'cadenzo-logic' });
}

// Values made in the other context have that context's prototypes; compare their data.
export const plain = (value) => JSON.parse(JSON.stringify(value));
