// The system file and the resident image of a start, with their byte sums.
#include <cstdio>
#include <filesystem>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "platform/Resources.h"

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

TSystemFileLoad ReadSystemFile(const std::string& path, std::vector<std::uint8_t>& into,
                               std::uint32_t& imageSum, std::string& refusal) {
  auto refuse = [&refusal](TSystemFileLoad why, const std::string& message) {
    refusal = message;
    return why;
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
  imageSum = sum + ByteSum(image.data(), 8);
  into = std::move(image);
  return TSystemFileLoad::Loaded;
}

bool ReadResident(TJobImages& images) {
  const plat::TResourceEntry* resource = plat::FindResource("BINFILE", "ResidentBin");
  if (resource == nullptr || resource->Size == 0) return false;
  images.ResidentImage.assign(resource->Data, resource->Data + resource->Size);
  images.ResidentSize = static_cast<std::uint32_t>(images.ResidentImage.size());
  images.ResidentSum = ByteSum(images.ResidentImage.data(), images.ResidentImage.size());
  return true;
}

TImagesLoad TDM::LoadImages(const std::string& systemFile, bool withSystemFile) const {
  TImagesLoad load;
  auto images = std::make_shared<TJobImages>();
  load.ResidentFound = ReadResident(*images);
  if (!load.ResidentFound) return load;
  if (withSystemFile) {
    if (systemFile.empty()) {
      load.PathGiven = false;
      return load;
    }
    load.SystemFile =
        ReadSystemFile(systemFile, images->SystemImage, images->SystemImageSum, load.Refusal);
    if (load.SystemFile != TSystemFileLoad::Loaded) return load;
  }
  load.Images = std::move(images);
  return load;
}
