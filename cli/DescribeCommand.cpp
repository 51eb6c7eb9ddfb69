// describe: the description text of a system file, as the window's tooltip shows it.
#include <cstdio>
#include <filesystem>

#include "appdata/DMU.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"

int RunDescribe(const TCliOptions& options) {
  const std::string& path = options.File;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    std::fprintf(stderr, "\"%s\"%s\n", path.c_str(),
                 Tr(" - это папка, а не файл системы!", " is a folder, not a system file!"));
    return ExitNoInput;
  }
  if (!std::filesystem::is_regular_file(path, ec)) {
    std::fprintf(stderr, "%s\"%s\"%s\n", Tr("Файл ", "File "), path.c_str(),
                 Tr(" не найден!", " not found!"));
    return ExitNoInput;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s\"%s\" !\n", Tr("Ошибка открытия файла ", "Can`t open "), path.c_str());
    return ExitNoInput;
  }
  std::fclose(file);
  TDM dm;
  std::string text = dm.GetFileDescription(path);
  std::string printed;
  for (char c : text)
    if (c != '\r') printed.push_back(c);
  std::printf("%s\n", printed.c_str());
  return ExitSuccess;
}
