// Collects the page's uncaught errors from its first script on, for the scenarios to check.
window.__pageErrors = [];
window.addEventListener('error', (event) =>
    window.__pageErrors.push(`${event.message} (${event.filename}:${event.lineno})`),
);
window.addEventListener('unhandledrejection', (event) =>
    window.__pageErrors.push(`Unhandled rejection: ${event.reason}`),
);
