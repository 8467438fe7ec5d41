// Removing a folder with what it holds, without following links.
#include "sys/Util.h"

#include "base/Handles.h"

#include <vector>

void CUtil::RemoveFolderTree(const std::string& folder)
{
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found;
    zelto::ScopedFind find(::FindFirstFileA((folder + "\\*").c_str(), &found));
    if (find.valid()) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
                folders.push_back(path);
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ::RemoveDirectoryA(path.c_str());   // the link itself, not what it points to
            } else {
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            }
        } while (::FindNextFileA(find.get(), &found));
    }
    find.reset();
    for (const std::string& path : folders) RemoveFolderTree(path);
    ::RemoveDirectoryA(folder.c_str());
}
