#pragma once

#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include <webkit2/webkit2.h>

#include <string>

namespace cadenzo {

// The bridge's way into a WebKit web view, held weakly: once the view has
// been destroyed, scripts go nowhere.
class WebViewScriptTarget final : public ScriptTarget {
public:
    explicit WebViewScriptTarget(WebKitWebView* webView);
    ~WebViewScriptTarget() override;
    WebViewScriptTarget(const WebViewScriptTarget&) = delete;
    WebViewScriptTarget& operator=(const WebViewScriptTarget&) = delete;

    void evaluateScript(const std::string& script) override;

private:
    GWeakRef webView_;
};

// Runs a script in the view's main frame; its value and errors are not wanted.
void evaluateScript(WebKitWebView* webView, const std::string& script);

// The JSON text of a value the page posted. Values JSON cannot carry
// (undefined, a function, a cyclic object) give an empty text, which no
// request parser takes for an object.
std::string messageBodyJson(JSCValue* value);

} // namespace cadenzo
