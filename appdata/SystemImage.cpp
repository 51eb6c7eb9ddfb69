// The system file and the resident image in memory, with their sizes and byte sums.
#include <cstdio>
#include <filesystem>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "platform/Resources.h"

std::vector<std::uint8_t> SystemImage;
std::uint32_t SystemSize = 0;
std::uint32_t SystemSum = 0;
std::uint32_t SystemImageSum = 0;
std::vector<std::uint8_t> ResidentImage;
std::uint32_t ResidentSize = 0;
std::uint32_t ResidentSum = 0;

std::uint32_t ByteSum(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return sum;
}

namespace {

// Lead text, the path in double quotes, closing text.
std::string FileMessage(const char* russianLead, const char* englishLead, const std::string& path,
                        const char* russianEnd, const char* englishEnd) {
  return std::string(Tr(russianLead, englishLead)) + "\"" + path + "\"" +
         Tr(russianEnd, englishEnd);
}

void PutU32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Binary mode: on Windows a text-mode read would turn CR LF pairs of the image into LF.
bool ReadWhole(std::FILE* file, std::uint8_t* into, std::size_t size) {
  return std::fread(into, 1, size, file) == size;
}

}  // namespace

bool TDM::LoadSystemFile(const std::string& path) {
  auto refuse = [this](TSystemFileLoad why, const std::string& message) {
    lastSystemFileLoad_ = why;
    ShowMessage(message);
    return false;
  };
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_directory(path, ec))
    return refuse(TSystemFileLoad::Folder,
                  FileMessage("", "", path, " - это папка, а не файл системы!",
                              " is a folder, not a system file!"));
  if (path.empty() || !std::filesystem::is_regular_file(path, ec))
    return refuse(TSystemFileLoad::NotFound,
                  FileMessage("Файл ", "File ", path, " не найден!", " not found!"));
  const std::uintmax_t fileSize = std::filesystem::file_size(path, ec);
  if (ec)
    return refuse(TSystemFileLoad::Unreadable,
                  FileMessage("Ошибка открытия файла ", "Can`t open ", path, " !", " !"));
  // An image of 4 GiB or more cannot be described by the 32-bit header: refused, never cut.
  if (static_cast<std::uint64_t>(fileSize) > 0xFFFFFFFFull - 8)
    return refuse(TSystemFileLoad::TooLarge, FileMessage("Файл слишком велик (4 ГиБ или больше): ",
                                                         "The file is too large (4 GiB or more): ",
                                                         path, ". Выберите файл системы приемника.",
                                                         ". Choose the receiver's system file."));
  if (fileSize == 0)
    return refuse(TSystemFileLoad::Empty, Tr("Файл системы пуст", "The system file is empty"));
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return refuse(TSystemFileLoad::Unreadable,
                  FileMessage("Ошибка открытия файла ", "Can`t open ", path, " !", " !"));
  const auto size = static_cast<std::uint32_t>(fileSize);
  std::vector<std::uint8_t> image(std::size_t{size} + 8);
  bool read = ReadWhole(file, image.data() + 8, size);
  std::fclose(file);
  if (!read)
    return refuse(TSystemFileLoad::Unreadable,
                  FileMessage("Ошибка чтения файла ", "Can`t open ", path, " !", " !"));
  const std::uint32_t sum = ByteSum(image.data() + 8, size);
  PutU32(image.data(), size);
  PutU32(image.data() + 4, sum);
  SystemImage = std::move(image);
  SystemSize = size;
  SystemSum = sum;
  SystemImageSum = sum + ByteSum(SystemImage.data(), 8);
  lastSystemFileLoad_ = TSystemFileLoad::Loaded;
  return true;
}

bool TDM::LoadResident() {
  const plat::TResourceEntry* resource = plat::FindResource("BINFILE", "ResidentBin");
  if (resource == nullptr || resource->Size == 0) return false;
  ResidentImage.assign(resource->Data, resource->Data + resource->Size);
  ResidentSize = static_cast<std::uint32_t>(ResidentImage.size());
  ResidentSum = ByteSum(ResidentImage.data(), ResidentImage.size());
  return true;
}
