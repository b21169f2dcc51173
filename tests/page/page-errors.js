// Collects the page's uncaught errors from its first script on, for the scenarios to check.
window.__pageErrors = [];
addEventListener('error', (event) => __pageErrors.push(`${event.message} (${event.filename}:${event.lineno})`));
addEventListener('unhandledrejection', (event) => __pageErrors.push(`Unhandled rejection: ${event.reason}`));
