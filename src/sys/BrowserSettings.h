// The browser's home page and search settings of the person at the desktop:
// whether the portal already is the home page or the default search scope,
// making it so, and the browser's list of untrusted publishers.
#pragma once

#include <windows.h>

namespace browser {

BOOL IsPortalHomeUrl(const char* url);
BOOL IsStartPagePortal();
BOOL SetStartPagePortal();
BOOL IsPortalScopeName(const char* scope);
BOOL IsPortalScopeUrl(const char* scope);
BOOL SetPortalScopeUrl(const char* scope);
BOOL IsPortalDefaultScope();
BOOL SetPortalDefaultScope();
BOOL IsUntrustedPublisher(const char* publisher);

}  // namespace browser
