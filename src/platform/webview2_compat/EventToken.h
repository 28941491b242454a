// The WebView2 SDK includes <EventToken.h>; Debian's MinGW ships it in lower case only.
#pragma once
#include <eventtoken.h>
