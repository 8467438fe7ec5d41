#include "app/RunServices.h"

#include "base/Handles.h"

#include <commctrl.h>

#include <memory>

namespace {

std::unique_ptr<zelto::ScopedOleInit> g_ole;

}  // namespace

void StartRunServices()
{
    if (g_ole) return;
    g_ole = std::make_unique<zelto::ScopedOleInit>();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
}

void EndRunServices()
{
    g_ole.reset();
}
