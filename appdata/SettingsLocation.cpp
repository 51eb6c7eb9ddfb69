// Where the settings file lives: beside the executable (a portable copy keeps its settings with
// it), unless the program cannot write there; then in the user's configuration folder.
#include "appdata/DMU.h"
#include "platform/UserFolders.h"

std::string SettingsFolderFor(const std::string& exeFolder, const std::string& iniName,
                              const std::string& userFolder) {
  if (exeFolder.empty() || plat::IsInstalledProgramFolder(exeFolder)) return userFolder;
  // A file there that can be written in place keeps working in a folder that takes no new file.
  if (plat::CanCreateFileIn(exeFolder) || plat::CanWriteFile(exeFolder + iniName)) return exeFolder;
  return userFolder;
}
