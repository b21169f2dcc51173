#pragma once

#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include <webkit2/webkit2.h>

#include <filesystem>
#include <optional>
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

// Lets file pages in the view read the files in `folder` and below it, and
// no other file: WebKit's file access for file pages is turned on and a
// content filter blocks every other file address (a read outside the folder
// fails as a network error in the page). Waits for the filter to be ready.
// When it cannot be made (the cache folder cannot be written), returns its
// error and leaves file access off: then file pages read no other file.
std::optional<std::string> confineFileReads(WebKitWebView* webView, const std::filesystem::path& folder);

} // namespace cadenzo
