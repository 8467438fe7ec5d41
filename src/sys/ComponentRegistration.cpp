// Registering components with the system registration tool, and the class
// registry questions the catalogue and the install engine ask.
#include "sys/Util.h"

#include "base/Log.h"
#include "sys/RegKey.h"

#include <ole2.h>

namespace {

constexpr DWORD kRegistrationWaitMs = 60000;

// The tool's exit code tells whether the entry point ran and succeeded (3: the
// library could not be loaded, 4: no entry point, 5: the entry point failed):
// a tool that merely started is no registration.
BOOL RunRegistrationTool(const char* arguments, const char* path)
{
    std::string tool = std::string(CUtil::Folders().szSystem) + "\\Regsvr32.exe";
    std::string parameters = std::string(arguments) + "\"" + (path ? path : "") + "\"";
    DWORD exitCode = 0;
    // A library whose entry point hangs must not hold the run for ever.
    if (!CUtil::ExecuteFile(tool.c_str(), parameters.c_str(), TRUE, &exitCode, kRegistrationWaitMs)) return FALSE;
    if (exitCode != 0) {
        WriteLog(1, "[RunRegistrationTool] Regsvr32 %s\"%s\" ended with exit code %u", arguments, path ? path : "",
                 static_cast<unsigned>(exitCode));
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL CUtil::RegisterServer(const char* path)
{
    return RunRegistrationTool("/s ", path);
}

BOOL CUtil::UnregisterServer(const char* path)
{
    return RunRegistrationTool("/u /s ", path);
}

BOOL CUtil::GetInprocServerPath(const char* classId, char* buffer, DWORD size)
{
    if (!classId || !buffer || size == 0) return FALSE;
    // The machine's classes only: the merged view would take the user's own
    // HKCU\Software\Classes first, and the elevated program would then
    // unregister and delete whatever library a user named there.
    std::string path = std::string("Software\\Classes\\CLSID\\{") + classId + "}\\InprocServer32";
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), ZELTO_KEY_READ) != ERROR_SUCCESS) return FALSE;
    DWORD bytes = size;
    return key.QueryStringValue(nullptr, buffer, &bytes) == ERROR_SUCCESS;
}

BOOL CUtil::RemoveServerByClassId(const char* classId)
{
    char path[MAX_PATH];
    if (!GetInprocServerPath(classId, path, sizeof(path))) return FALSE;
    UnregisterServer(path);
    return ::DeleteFileA(path);
}

BOOL CUtil::CheckClassRegistration(const char* classId, WORD* code)
{
    WORD result = 2;
    std::string text = std::string("{") + (classId ? classId : "") + "}";
    wchar_t wide[128] = {};
    CLSID clsid;
    if (::MultiByteToWideChar(949, 0, text.c_str(), -1, wide, 128) > 0 && SUCCEEDED(::CLSIDFromString(wide, &clsid))) {
        IUnknown* object = nullptr;
        if (SUCCEEDED(::CoGetClassObject(clsid, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, nullptr, IID_IUnknown,
                                         reinterpret_cast<void**>(&object))) && object) {
            object->Release();
            ::CoFreeUnusedLibraries();
            result = 1;
        } else {
            result = 0;
        }
    }
    if (code) *code = result;
    return TRUE;
}
