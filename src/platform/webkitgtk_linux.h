#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string_view>

#include "platform/browser.h"

namespace vardeko {

// The browser seam on WebKitGTK 4.1. An environment is a web context with its own data
// folder and the page scheme; a controller is a web view placed in `parent`, which must
// outlive the runtime. The page scheme is answered only by the web resource handler:
// a request it leaves unanswered, or one made before a filter names the scheme, fails.
// GLib main loop only.
std::unique_ptr<BrowserRuntime> CreateWebKitRuntime(GtkContainer* parent,
                                                    std::string_view pageScheme);

}  // namespace vardeko
